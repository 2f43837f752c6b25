// The password policy, the login's normal form and the password comparison.
#include "core/auth/PasswordRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/records.h"

namespace core {
namespace {

std::vector<std::uint8_t> Policy(std::uint8_t aliasCheck, std::uint8_t length, std::uint8_t digits,
                                 std::uint8_t others) {
  std::vector<std::uint8_t> settings(records::SettingsSize, 0);
  using namespace records::settings;
  settings[NotAnAlias] = aliasCheck;
  settings[MinLength] = length;
  settings[MinDigits] = digits;
  settings[MinOthers] = others;
  return settings;
}

TEST(PasswordRules, AliasCheckLengthDigitsAndOthers) {
  const auto alias = Policy(1, 0, 0, 0);
  EXPECT_FALSE(CheckPasswordRules(alias.data(), "JOHN", "john", "x"));
  EXPECT_FALSE(CheckPasswordRules(alias.data(), "John", "john@example.com", "x"));
  EXPECT_FALSE(CheckPasswordRules(alias.data(), "Second", "john", "first;second"));
  EXPECT_TRUE(CheckPasswordRules(alias.data(), "other", "john", "first;second"));
  EXPECT_TRUE(CheckPasswordRules(Policy(0, 0, 0, 0).data(), "john", "john", "john"));

  const auto strict = Policy(0, 8, 2, 1);
  const struct {
    const char* password;
    bool passes;
  } cases[] = {{"abcdef12", false}, {"abcde12!", true}, {"ab1!", false}, {"abcdefgh", false}, {"a1b2c3d!e", true}};
  for (const auto& c : cases)
    EXPECT_EQ(CheckPasswordRules(strict.data(), c.password, "m", "a"), c.passes) << c.password;
  EXPECT_TRUE(CheckPasswordRules(Policy(0, 3, 4, 0).data(), "a", "m", "a"));  // length below digits: off
  const auto equal = Policy(0, 4, 4, 0);                                      // length equal to digits: on
  EXPECT_FALSE(CheckPasswordRules(equal.data(), "a123", "m", "a"));
  EXPECT_FALSE(CheckPasswordRules(equal.data(), "123", "m", "a"));
  EXPECT_TRUE(CheckPasswordRules(equal.data(), "1234", "m", "a"));
  EXPECT_TRUE(CheckPasswordRules(Policy(0, 8, 2, 0).data(), "abcdef12", "m", "a"));
}

TEST(PasswordRules, NormalFormAndComparisonPastTheLength) {
  EXPECT_EQ(NormalizeLoginName("john%example.com/x"), "john@example.com@x");
  std::uint8_t stored[128];
  std::fill(std::begin(stored), std::end(stored), 0x5A);  // garbage past the length
  stored[0] = 3;
  stored[1] = 'p';
  stored[2] = 'w';
  stored[3] = '1';
  EXPECT_TRUE(PasswordMatches("pw1", stored));
  EXPECT_FALSE(PasswordMatches("pw", stored));
  EXPECT_FALSE(PasswordMatches("pw1Z", stored));
  EXPECT_FALSE(PasswordMatches("PW1", stored));
  EXPECT_FALSE(PasswordMatches(std::string(200, 'p'), stored));
  stored[0] = 0;
  EXPECT_TRUE(PasswordMatches("", stored));
  stored[0] = 250;  // a damaged length byte never reads past the field
  EXPECT_FALSE(PasswordMatches("pw1", stored));
}

}  // namespace
}  // namespace core
