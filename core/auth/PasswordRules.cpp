#include "core/auth/PasswordRules.h"

#include <array>

#include "core/config/SettingsRecord.h"
#include "core/util/ListMatch.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr FieldRef AliasCheck = ConfigField("AliasCheck");
constexpr FieldRef MinLength = ConfigField("MinPasswordLength");
constexpr FieldRef MinDigits = ConfigField("MinPasswordDigits");
constexpr FieldRef MinOthers = ConfigField("MinOtherCharacters");

constexpr std::size_t PasswordField = 128;  // length byte and 127 characters

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool CheckPasswordRules(const std::uint8_t* settings, std::string_view password, std::string_view mailboxName,
                        std::string_view aliases) {
  if (GetU8(settings, AliasCheck) != 0) {
    std::string name(mailboxName);
    const std::size_t at = name.find('@');
    if (at != std::string::npos) name = Trim(std::string_view(name).substr(0, at));
    if (SameText(password, name) || MatchStringLists(password, aliases)) return false;
  }
  const unsigned length = GetU8(settings, MinLength);
  const unsigned digits = GetU8(settings, MinDigits);
  if (length == 0 || length < digits) return true;
  if (password.size() < length) return false;
  unsigned digitCount = 0, otherCount = 0;
  for (const char c : password) {
    if (IsDigit(c))
      ++digitCount;
    else if (!IsLetter(c))
      ++otherCount;
  }
  const unsigned others = GetU8(settings, MinOthers);
  return digitCount >= digits && (others == 0 || otherCount >= others);
}

std::string NormalizeLoginName(std::string_view login) {
  std::string out(login);
  for (char& c : out) {
    if (c == '%' || c == '/') c = '@';
  }
  return out;
}

bool PasswordMatches(std::string_view password, const std::uint8_t* storedField) {
  std::array<std::uint8_t, PasswordField> given{}, stored{};
  // A password longer than the field can never equal a stored one; it still
  // costs the same comparison.
  std::uint8_t tooLong = password.size() > PasswordField - 1 ? 1 : 0;
  const std::size_t length = tooLong != 0 ? PasswordField - 1 : password.size();
  given[0] = static_cast<std::uint8_t>(length);
  for (std::size_t i = 0; i < length; ++i)
    given[1 + i] = static_cast<std::uint8_t>(password[i]);
  const std::size_t storedLength = storedField[0] < PasswordField ? storedField[0] : PasswordField - 1;
  stored[0] = storedField[0];
  for (std::size_t i = 0; i < storedLength; ++i)
    stored[1 + i] = storedField[1 + i];
  std::uint8_t difference = tooLong;
  for (std::size_t i = 0; i < PasswordField; ++i)
    difference = static_cast<std::uint8_t>(difference | (given[i] ^ stored[i]));
  return difference == 0;
}

}  // namespace core
