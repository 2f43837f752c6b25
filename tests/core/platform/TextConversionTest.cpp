#include "core/platform/TextConversion.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

constexpr UINT Western = 1252;
constexpr UINT Utf8 = CP_UTF8;

TEST(TextConversion, ExactNarrowingRefusesWhatHasNoExactForm) {
  // The run under a UTF-8 locale names the system code page it must get.
  if (const char* expected = std::getenv("VM_EXPECT_ACP")) {
    ASSERT_EQ(::GetACP(), std::strtoul(expected, nullptr, 10));
  }
  struct Row {
    UINT codePage;
    std::wstring wide;
    bool exact;
    std::string narrow;
  };
  const Row rows[] = {
      {Western, L"", true, ""},
      {Western, L"caf\u00e9\u20ac", true, "caf\xe9\x80"},
      {Western, L"a?b", true, "a?b"},              // a real question mark is no default character
      {Western, L"\u0100dam", false, ""},          // best fit would give "Adam"
      {Western, L"mail\uff0eexample", false, ""},  // best fit would give a dot
      {Western, L"\u4e2d", false, ""},             // no form at all
      {Utf8, L"caf\u00e9\u4e2d", true, "caf\xc3\xa9\xe4\xb8\xad"},
      {Utf8, std::wstring(1, wchar_t(0xD800)) + L"x", false, ""},  // a lone surrogate
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
    std::string out = "stale";
    EXPECT_EQ(core::WideToAnsiExact(row.wide, out, row.codePage), row.exact);
    EXPECT_EQ(out, row.narrow);
    if (row.codePage != ::GetACP()) continue;
    // The system's code page by its own name too (with UTF-8 the flags that
    // refuse look-alikes must not be passed).
    EXPECT_EQ(core::WideToAnsiExact(row.wide, out), row.exact);
    EXPECT_EQ(out, row.narrow);
  }
  std::string out;
  EXPECT_TRUE(core::WideToAnsiExact(std::u16string_view(u"\u00e9t\u00e9"), out, Utf8));  // the look-ups' form
  EXPECT_EQ(out, "\xc3\xa9t\xc3\xa9");
}

TEST(TextConversion, WideningAndAutomationStrings) {
  std::wstring wide;
  EXPECT_TRUE(core::AnsiToWideExact("\x80\xe9", wide, Western));
  EXPECT_EQ(wide, L"\u20ac\u00e9");
  EXPECT_FALSE(core::AnsiToWideExact("ok\xff", wide, Utf8));  // no UTF-8 sequence
  EXPECT_EQ(wide, L"");
  EXPECT_EQ(core::AnsiToWide("\xc3\xa9", Western), L"\u00c3\u00a9");
  // Byte by byte ignores the code page: each byte keeps its value.
  EXPECT_EQ(core::WidenBytes(std::string("\x80\xe9\0z", 4)), std::wstring(L"\u0080\u00e9\0z", 4));

  core::UniqueBstr text = core::AnsiToBstr("caf\xe9", Western);
  EXPECT_EQ(core::BstrText(text.get()), L"caf\u00e9");
  std::string narrow;
  EXPECT_TRUE(core::BstrToAnsiExact(text.get(), narrow, Utf8));
  EXPECT_EQ(narrow, "caf\xc3\xa9");
  EXPECT_EQ(core::BstrText(core::WideToBstr(std::wstring_view(L"a\0b", 3)).get()).size(), 3u);  // its own length
  EXPECT_TRUE(core::BstrToAnsiExact(nullptr, narrow, Western));
  EXPECT_EQ(narrow, "");
}

}  // namespace
