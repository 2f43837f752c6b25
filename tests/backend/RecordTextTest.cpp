// The back end's keys and texts, against values written out by hand.
#include "backend/RecordText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using backend::AliasKeys;
using Keys = std::vector<std::string>;

TEST(RecordText, KeysFoldAsciiLettersOnlyAndKeepEveryOtherByte) {
  EXPECT_EQ(backend::DomainKey("  Caf\xC9.TEST\t"), "caf\xC9.test");
  EXPECT_EQ(backend::DomainKey(std::string(100, 'A')), std::string(91, 'a'));
  EXPECT_EQ(AliasKeys(" Ann ;;anna; ANN ;x'y;--;100%"), (Keys{"ann", "anna", "x'y", "--", "100%"}));
  EXPECT_EQ(AliasKeys(" ; ;"), Keys{});
  EXPECT_EQ(AliasKeys("R\xC9NE"), Keys{"r\xC9ne"});
  EXPECT_TRUE(backend::ShareAlias("a;B", "x; b "));
  EXPECT_FALSE(backend::ShareAlias("a;b", "ab;;"));
}

TEST(RecordText, PasswordsCompareWhole) {
  const std::string longest(255, 'p');
  const struct {
    std::string stored, given;
    bool same;
  } cases[] = {{"secret", "secret", true}, {"secret", "Secret", false}, {"secret", "secret ", false},   {"", "", true},
               {"", "x", false},           {longest, longest, true},    {longest, longest + "p", false}};
  for (const auto& c : cases)
    EXPECT_EQ(backend::SamePassword(c.stored, c.given), c.same) << c.stored.size() << " " << c.given;
}

TEST(RecordText, AddressesAndTheConfigurationFolder) {
  const backend::SplitAddress a = backend::SplitAtSign("  ann@b@c.test ");
  EXPECT_TRUE(a.hasAt);
  EXPECT_EQ(a.alias + "|" + a.domain, "ann|b@c.test");
  EXPECT_FALSE(backend::SplitAtSign("ann").hasAt);
  EXPECT_EQ(backend::ConfigFolderOf("C:\\srv", {}), "C:\\srv\\config\\");
  EXPECT_EQ(backend::ConfigFolderOf("C:\\srv\\", {"  # nothing", "D:\\x"}), "C:\\srv\\config\\");
  EXPECT_EQ(backend::ConfigFolderOf("C:\\srv\\", {" D:\\cfg  // moved"}), "D:\\cfg\\");
  EXPECT_EQ(backend::SplitLines("a\r\nb\n\nc"), (Keys{"a", "b", "", "c"}));
}

}  // namespace
