#include "core/platform/TextConversion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

constexpr UINT Western = 1252;
constexpr UINT Utf8 = CP_UTF8;

TEST(TextConversion, ExactNarrowingRefusesWhatHasNoExactForm) {
  struct Row {
    UINT codePage;
    std::wstring wide;
    bool exact;
    std::string narrow;
  };
  const Row rows[] = {
      {Western, L"", true, ""},
      {Western, L"caf\u00e9", true, "caf\xe9"},
      {Western, L"\u20ac5", true,
       "\x80"
       "5"},
      {Western, L"a?b", true, "a?b"},              // a real question mark is no default character
      {Western, L"\u0100dam", false, ""},          // best fit would give "Adam"
      {Western, L"mail\uff0eexample", false, ""},  // best fit would give a dot
      {Western, L"\u4e2d", false, ""},             // no form at all
      {Utf8, L"caf\u00e9", true, "caf\xc3\xa9"},   // the same text in UTF-8
      {Utf8, L"\u4e2d\u6587", true, "\xe4\xb8\xad\xe6\x96\x87"},
      {Utf8, L"mail\uff0eexample", true,
       "mail\xef\xbc\x8e"
       "example"},
      {Utf8, std::wstring(1, wchar_t(0xD800)) + L"x", false, ""},  // a lone surrogate
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.codePage << " row " << (&row - rows));
    std::string out = "stale";
    EXPECT_EQ(core::WideToAnsiExact(row.wide, out, row.codePage), row.exact);
    EXPECT_EQ(out, row.narrow);
  }
  // The UTF-16 form of the domain look-ups takes the same path.
  std::string out;
  EXPECT_TRUE(core::WideToAnsiExact(std::u16string_view(u"\u00e9t\u00e9"), out, Utf8));
  EXPECT_EQ(out, "\xc3\xa9t\xc3\xa9");
}

// The system's code page takes the same path as its number: under a UTF-8
// system code page too (a prefix whose ACP is 65001), where the flags that
// refuse look-alikes must not be passed.
TEST(TextConversion, SystemCodePageAsItsNumber) {
  struct Row {
    UINT codePage;
    std::wstring wide;
    bool exact;
    std::string narrow;
  };
  const Row rows[] = {
      {Western, L"caf\u00e9", true, "caf\xe9"},
      {Western, L"\u0100dam", false, ""},
      {Utf8, L"caf\u00e9", true, "caf\xc3\xa9"},
      {Utf8, L"\u4e2d", true, "\xe4\xb8\xad"},
  };
  // The run under a UTF-8 locale names the code page it must have got.
  if (const char* expected = std::getenv("VM_EXPECT_ACP")) {
    ASSERT_EQ(::GetACP(), std::strtoul(expected, nullptr, 10));
  }
  int checked = 0;
  for (const Row& row : rows) {
    if (row.codePage != ::GetACP()) continue;
    ++checked;
    std::string out;
    EXPECT_EQ(core::WideToAnsiExact(row.wide, out), row.exact) << (&row - rows);
    EXPECT_EQ(out, row.narrow);
  }
  if (checked == 0) GTEST_SKIP() << "system code page " << ::GetACP() << " has no rows";
}

TEST(TextConversion, WideningByCodePageOrByteByByte) {
  std::wstring wide;
  EXPECT_TRUE(core::AnsiToWideExact("\x80\xe9", wide, Western));
  EXPECT_EQ(wide, L"\u20ac\u00e9");
  EXPECT_TRUE(core::AnsiToWideExact("\xc3\xa9", wide, Utf8));
  EXPECT_EQ(wide, L"\u00e9");
  EXPECT_FALSE(core::AnsiToWideExact("ok\xff", wide, Utf8));  // no UTF-8 sequence
  EXPECT_EQ(wide, L"");
  EXPECT_EQ(core::AnsiToWide("\xc3\xa9", Western), L"\u00c3\u00a9");
  // Byte by byte ignores the code page: each byte keeps its value.
  EXPECT_EQ(core::WidenBytes(std::string("\x80\xe9\0z", 4)), std::wstring(L"\u0080\u00e9\0z", 4));
}

TEST(TextConversion, AutomationStrings) {
  core::UniqueBstr text = core::AnsiToBstr("caf\xe9", Western);
  ASSERT_TRUE(text);
  EXPECT_EQ(::SysStringLen(text.get()), 4u);
  EXPECT_EQ(core::BstrText(text.get()), L"caf\u00e9");
  std::string narrow;
  EXPECT_TRUE(core::BstrToAnsiExact(text.get(), narrow, Utf8));
  EXPECT_EQ(narrow, "caf\xc3\xa9");
  // A zero inside stays: the length is the string's own.
  core::UniqueBstr inner = core::WideToBstr(std::wstring_view(L"a\0b", 3));
  EXPECT_EQ(core::BstrText(inner.get()).size(), 3u);
  EXPECT_TRUE(core::BstrToAnsiExact(nullptr, narrow, Western));
  EXPECT_EQ(narrow, "");
  EXPECT_TRUE(core::WideToBstr(L""));  // empty, but a string
}

}  // namespace
