#pragma once
// The password policy and the pieces of a login check that need no system
// call: the policy's rules, the login's normal form and the constant-time
// comparison of a password with the stored one.
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// True when the password passes the policy of the settings record: with the
// alias check on, not the mailbox name (its part before "@", any case) and
// no alias of the list; with a minimum length L at least the minimum digits
// D, at least L characters of which D digits and (when set) the minimum of
// other characters. L of 0, or L below D, switches the length rules off.
bool CheckPasswordRules(const std::uint8_t* settings, std::string_view password, std::string_view mailboxName,
                        std::string_view aliases);

// Every "%" and "/" of the login replaced by "@".
std::string NormalizeLoginName(std::string_view login);

// Whether the password equals the stored password field (a length byte and
// up to 127 characters at storedField) without an early exit: both are laid
// into zero-filled 128-byte fields and compared whole, so the time does not
// tell how much matched, and bytes past the stored length never count.
bool PasswordMatches(std::string_view password, const std::uint8_t* storedField);

}  // namespace core
