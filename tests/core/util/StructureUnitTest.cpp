#include "core/util/StructureUnit.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "core/util/XMLUnit.h"

namespace core {
namespace {

TEST(StructureUnit, ListItemsFileNamesHighChars) {
  EXPECT_EQ(FirstListItem("first@x;second@x"), "first@x");
  EXPECT_EQ(FirstListItem(std::string(300, 'a')).size(), 255u);
  EXPECT_EQ(RemoveFileNameChars("a\"*b/:<c>?|d\\e\xE4"), "abcd\\e\xE4");
  EXPECT_EQ(NormalizeListSeparators(" a , b "), "a;b");
  EXPECT_EQ(NormalizeListSeparators("a, b,c"), "a;b;c");
  EXPECT_EQ(NormalizeListSeparators(" a;b "), "a;b");
  EXPECT_FALSE(ContainsHighChars("plain \x7F text"));
  EXPECT_TRUE(ContainsHighChars("caf\xE9"));
}

TEST(StructureUnit, DomainNames) {
  EXPECT_TRUE(IsValidDomainName(""));
  EXPECT_TRUE(IsValidDomainName("mail.example-1.com"));
  EXPECT_TRUE(IsValidDomainName("[192.168.0.1]"));
  EXPECT_TRUE(IsValidDomainName("b\xFC" "cher.de"));
  EXPECT_FALSE(IsValidDomainName("mail_box"));
  // Dots only between non-empty labels.
  for (const char* bad : {".", "..", ".example.com", "example.com.", "example..com"})
    EXPECT_FALSE(IsValidDomainName(bad)) << bad;
}

TEST(StructureUnit, AddressChars) {
  EXPECT_TRUE(IsValidAddressChars("a;b", true));
  EXPECT_FALSE(IsValidAddressChars("a;b", false));
  EXPECT_FALSE(IsValidAddressChars("x@y", true));
  EXPECT_FALSE(IsValidAddressChars("[x]", false));
  EXPECT_TRUE(IsValidAddressChars("lower", true));
  EXPECT_TRUE(IsValidAddressChars("lower", false));
  EXPECT_TRUE(IsValidAddressChars("!#$%&'*+-./=?^_`{|}~09AZ", false));
  for (const char bad : std::string("\"(),:<>\\\x7F\x80\xFF\t ")) {
    EXPECT_FALSE(IsValidAddressChars(std::string("a") + bad, true)) << static_cast<int>(bad);
    EXPECT_FALSE(IsValidAddressChars(std::string("a") + bad, false)) << static_cast<int>(bad);
  }
}

TEST(StructureUnit, CutAtCommentMarker) {
  const struct {
    const char* text;
    const char* marker;
    const char* expected;
  } cases[] = {
      {"a ## b # c", "#", "a # b"},  {"abc#", "#", "abc"}, {"x ##", "#", "x #"},
      {" no marker ", "#", " no marker "}, {"####", "#", "##"},
      {"keep // // this // cut", "// ", "keep // this"},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    CutAtCommentMarker(text, c.marker);
    EXPECT_EQ(text, c.expected) << c.text;
  }
}

TEST(StructureUnit, StripComments) {
  EXPECT_EQ(StripComments("value ## not a comment # comment"), "value # not a comment");
  EXPECT_EQ(StripComments("  plain  "), "  plain  ");
  EXPECT_EQ(StripComments("key=1 // note"), "key=1");
  EXPECT_EQ(StripComments("a /* b */ c"), "a  c");
  // The closing mark counts only after the opening one; none removes the rest.
  EXPECT_EQ(StripComments("x */ y /* z */ w"), "x */ y  w");
  EXPECT_EQ(StripComments("a /*/ b"), "a");
  EXPECT_EQ(StripComments("a /* open to the end "), "a");
}

TEST(StructureUnit, AccountNumberSendLimitWords) {
  std::array<std::uint8_t, AccountRecordSize> record{};
  EXPECT_EQ(AccountNumberSendLimit(record.data(), 0x12345678u, true), 0u);
  EXPECT_EQ(record[1018], 0x34);
  EXPECT_EQ(record[1019], 0x12);
  EXPECT_EQ(record[1024], 0x78);
  EXPECT_EQ(record[1025], 0x56);
  record[1024] = 0xFF;
  EXPECT_EQ(AccountNumberSendLimit(record.data(), 0, false), 0x123456FFu);
}

}  // namespace
}  // namespace core
