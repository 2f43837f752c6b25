#include "core/util/NameText.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "core/util/ListMatch.h"
#include "core/util/PathText.h"
#include "core/util/Text.h"  // ContainsHighChars

namespace core {
namespace {

TEST(NameText, ListItemsFileNamesHighChars) {
  EXPECT_EQ(FirstListItem("first@x;second@x"), "first@x");
  EXPECT_EQ(FirstListItem(std::string(300, 'a')).size(), 255u);
  EXPECT_EQ(RemoveFileNameChars("a\"*b/:<c>?|d\\e\xE4"), "abcd\\e\xE4");
  EXPECT_EQ(NormalizeListSeparators(" a , b "), "a;b");
  EXPECT_EQ(NormalizeListSeparators("a, b,c"), "a;b;c");
  EXPECT_FALSE(ContainsHighChars("plain \x7F text"));
  EXPECT_TRUE(ContainsHighChars("caf\xE9"));
}

TEST(NameText, DomainNamesAndAddressChars) {
  for (const char* good : {"", "mail.example-1.com", "[192.168.0.1]",
                           "b\xFC"
                           "cher.de"})
    EXPECT_TRUE(IsValidDomainName(good)) << good;
  // Dots only between non-empty labels.
  for (const char* bad : {"mail_box", ".", "..", ".example.com", "example.com.", "example..com"})
    EXPECT_FALSE(IsValidDomainName(bad)) << bad;

  EXPECT_TRUE(IsValidAddressChars("a;b", true));  // ';' only in alias lists
  EXPECT_FALSE(IsValidAddressChars("a;b", false));
  EXPECT_FALSE(IsValidAddressChars("x@y", true));
  EXPECT_FALSE(IsValidAddressChars("[x]", false));
  EXPECT_TRUE(IsValidAddressChars("!#$%&'*+-./=?^_`{|}~09AZaz", false));
  for (const char bad : std::string("\"(),:<>\\\x7F\x80\xFF\t ")) {
    const std::string text = std::string("a") + bad;
    EXPECT_FALSE(IsValidAddressChars(text, true) || IsValidAddressChars(text, false)) << static_cast<int>(bad);
  }
}

TEST(NameText, Comments) {
  for (const auto& [text, expected] : {std::pair<std::string, std::string>{"a ## b # c", "a # b"},
                                       {"x ##", "x #"},
                                       {" no marker ", " no marker "},
                                       {"####", "##"}}) {
    std::string cut = text;
    CutAtCommentMarker(cut, "#");
    EXPECT_EQ(cut, expected) << text;
  }

  EXPECT_EQ(StripComments("value ## not a comment # comment"), "value # not a comment");
  EXPECT_EQ(StripComments("  plain  "), "  plain  ");
  EXPECT_EQ(StripComments("key=1 // note"), "key=1");
  EXPECT_EQ(StripComments("a /* b */ c"), "a  c");
  // The closing mark counts only after the opening one; none removes the rest.
  EXPECT_EQ(StripComments("x */ y /* z */ w"), "x */ y  w");
  EXPECT_EQ(StripComments("a /*/ b"), "a");
  EXPECT_EQ(StripComments("a /* open to the end "), "a");
}

TEST(NameText, SafeFolderNames) {
  for (const char* good : {"example.test",
                           "b\xFC"
                           "cher.test",
                           "a-b.c", "conx.test", "com10.test", "[192.0.2.1]"})
    EXPECT_TRUE(IsSafeFolderName(good)) << good;
  for (const char* bad :
       {"",         ".",           "..",   "...",    "a..b", ".a",    "a.",     " a",       "a ",   "a\\b",
        "a/b",      "c:x",         "a*b",  "a?b",    "a\"b", "a<b",   "a>b",    "a|b",      "a\tb", "con",
        "CON.test", "nul.example", "com1", "Lpt9.x", "aux",  "prn.a", "conin$", "CONOUT$.x"})
    EXPECT_FALSE(IsSafeFolderName(bad)) << bad;
}

TEST(PathText, MailboxPathsThatStayInsideAndInstallationNames) {
  for (const char* inside : {"", "a.test\\ann\\", "a.test/ann", "a.test\\.ann\\", "a.test\\ann..\\", "x\\\\y"})
    EXPECT_TRUE(MailboxPathStaysInside(inside)) << inside;
  for (const char* outside :
       {"..", ".", "a.test\\..\\", "a.test\\.\\", "a.test/../b", "a\\. .\\", "...", "\\mail\\", "/x", "a.test\\ ..\\"})
    EXPECT_FALSE(MailboxPathStaysInside(outside)) << outside;
  // The published FNV-1a test vectors.
  EXPECT_EQ(InstallationObjectName("L-", ""), "L-cbf29ce484222325");
  EXPECT_EQ(InstallationObjectName("", "a"), "af63dc4c8601ec8c");
  EXPECT_EQ(InstallationObjectName("", "foobar"), "85944171f73967e8");
}

TEST(ListMatch, ItemsCaseAndGroups) {
  struct Case {
    const char* a;
    const char* b;
    bool match;
  } cases[] = {{"Ann", "ann", true}, {"ann ", "ann", true}, {"x;Ann", " ann ;y", true}, {"x;y", "z;", false},
               {"a;;", ";b", true},  {"", "a", false},      {"a", "  ", false},         {"a;b", "[Staff]", false}};
  for (const Case& c : cases)
    EXPECT_EQ(MatchStringLists(c.a, c.b), c.match) << c.a << " ~ " << c.b;
  const GroupMemberTest staff = [](std::string_view item, std::string_view group) {
    return group == "[staff]" && item == "bob";
  };
  EXPECT_TRUE(MatchStringLists("x;Bob", "[Staff];y", staff));
  EXPECT_TRUE(MatchStringLists("bob", " [Staff] ", staff));  // a single item is a list of one
  EXPECT_FALSE(MatchStringLists("x;Bob", "[1abc];y", staff));
  EXPECT_TRUE(IsGroupReference("[Staff]"));
  EXPECT_FALSE(IsGroupReference("[1]"));
}

}  // namespace
}  // namespace core
