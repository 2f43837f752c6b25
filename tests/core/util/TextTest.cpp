#include "core/util/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace core {
namespace {

TEST(Text, GetDelimitedItem) {
  EXPECT_EQ(GetDelimitedItem("a;b;", 2, ';'), "");
  EXPECT_EQ(GetDelimitedItem("a;;c", 1, ';'), "");
  EXPECT_EQ(GetDelimitedItem(" a ; b ", 1, ';'), "b");
  EXPECT_EQ(GetDelimitedItem(" a ; b ", 1, ';', true), " b ");
  EXPECT_TRUE(GetDelimitedItem("a;b", -1, ';').empty() && GetDelimitedItem("a;b", 2147483647, ';').empty());
  // withRest
  EXPECT_EQ(GetDelimitedItem("a;b;c", 1, ';', false, true), "b;c");
  EXPECT_EQ(GetDelimitedItem("a;b", 1, ';', false, true), "b");
  EXPECT_EQ(GetDelimitedItem("key = a = b", 1, '=', false, true), "a= b");
  // Words: runs of blanks count once.
  EXPECT_EQ(GetDelimitedWord("cmd  a   b", 1, ' '), "a");
  EXPECT_EQ(GetDelimitedWord("cmd  a   b", 1, ' ', false, true), "a b");
}

TEST(Text, ReplaceText) {
  std::string text = "One one ONE";
  ReplaceText(text, "one", "two", false);
  EXPECT_EQ(text, "two two two");
  text = "aaa";
  ReplaceText(text, "a", "aa", true);  // inserted text is not searched again
  EXPECT_EQ(text, "aaaaaa");
  ReplaceText(text, "", "x", true);  // an empty search text changes nothing
  EXPECT_EQ(text, "aaaaaa");
}

TEST(Text, TrimCasePositionsAndSeparators) {
  EXPECT_EQ(Trim("\t\r\n a b \x01"), "a b");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // high codes are not blanks
  EXPECT_EQ(UpperCase("abc-\xE4z"), "ABC-\xE4Z");
  EXPECT_EQ(LowerCase("@AZ[\xC1\xDAz`Mail.EXAMPLE"), "@az[\xC1\xDAz`mail.example");  // word and tail
  EXPECT_TRUE(SameText("Mail.Example", "mail.EXAMPLE"));
  EXPECT_FALSE(SameText("\xE4", "\xC4"));
  EXPECT_EQ(LastCharPos('a', "banana"), 6);
  EXPECT_EQ(PosInRange("an", "banana", 3, 0), 4);  // 0: to the end
  EXPECT_EQ(PosInRange("an", "banana", 3, 3), 0);
  EXPECT_EQ(PosInRange("an", "banana", 3, 4), 4);  // may end past "to"
  EXPECT_EQ(PosInRange("", "banana", 1, 0), 0);
  EXPECT_EQ(PosInRange("a", "banana", 100, 0), 0);
  EXPECT_EQ(CopyRange("abcdef", 2, 4), "bcd");
  EXPECT_EQ(CopyRange("abcdef", 5, 99), "ef");
  EXPECT_EQ(TrimAroundSeparator("  Key   =  some   value ", '='), "Key=some value");
  EXPECT_EQ(TrimAroundSeparator("NoSeparator ", '='), "NoSeparator ");
}

}  // namespace
}  // namespace core
