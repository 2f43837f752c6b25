#pragma once
// Finding the account of a login and checking it: the account cache first,
// then the domain the login names or its IP address is bound to, then every
// domain; the plain password, a Windows logon, an LDAP bind or no check as
// the account chooses; the lockout of "login.dat", the domain's IP binding,
// "active.dat" for accounts that expire when inactive, and a pause after a
// refusal. In storage mode 2 the database back end decides.
#include <cstdint>
#include <functional>
#include <string>

#include "core/accounts/AccountRecord.h"

namespace core {

struct LoginAttempt {
  std::int32_t method = 0;  // handed on to the back end unchanged
  std::string login;
  std::string password;
  std::string ip;            // the caller's address text; empty skips the binding
  bool noDelay = false;      // no pause after a refusal
  bool useCache = true;      // the account cache takes part
  bool fullAddress = false;  // forces the full-address login for this call
};

// True when the login opens an account: record and domain then hold the
// account and its domain's name (both are left alone otherwise).
bool AuthenticateAccount(const LoginAttempt& attempt, AccountRecordBytes& record, std::string& domain);

// The outside check the record's AuthMode chooses (1 Windows logon, 2 LDAP
// bind); an empty password or any other mode refuses.
bool CheckExternalLogin(const AccountRecordBytes& record, const std::string& password, const std::string& domain);

// Creates the file's folders and the file anew, empty.
void StampFile(const std::string& file);

// ---- Seams --------------------------------------------------------------------

// The local time now as a day count (the lockout's clock).
void SetAuthenticationClock(double (*now)());
// The pause after a refusal (3,000 ms).
void SetAuthenticationPause(void (*pause)(unsigned milliseconds));
// Runs that pause: for callers that ask with noDelay and pause later, after
// releasing what they held during the search.
void PauseAfterRefusal();
// The LDAP bind of AuthMode 2 (installed by the directory unit): the LDAP
// result code, 0 when the bind was accepted.
using LdapBindFunction = std::function<int(const std::string& server, std::uint16_t port, const std::string& bindName,
                                           const std::string& password)>;
void SetLdapBindFunction(LdapBindFunction bind);

}  // namespace core
