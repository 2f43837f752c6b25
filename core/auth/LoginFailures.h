#pragma once
// The lockout record "login.dat" in an account's mailbox folder: one 16-byte
// little-endian record, a signed 32-bit failure count, 4 zero bytes and the
// local time of the last failure as a day count. Other processes update it
// too, so every update opens it exclusively.
#include <cstdint>
#include <string>

namespace core {

enum class LockState { Free, Locked, Unreadable };

// Whether the account whose mailbox folder this is may try a login now:
// locked while count >= threshold and now lies within minutes of the last
// failure (a time in the future counts as now; one that is not a number is
// no lock). A threshold of 0 or less is no lockout. A file that exists but
// cannot be read answers Unreadable.
LockState CheckLoginFailures(const std::string& mailboxFolder, std::int32_t threshold, std::int32_t minutes,
                             double now);

// Counts one more failure (saturating) at time now; true when recorded.
bool RecordLoginFailure(const std::string& mailboxFolder, double now);

// Forgets every failure (deletes the file).
void ForgetLoginFailures(const std::string& mailboxFolder);

// The record's fields as stored (for tests and tools).
struct LoginFailureRecord {
  std::int32_t count = 0;
  double lastFailure = 0.0;
};
bool ReadLoginFailures(const std::string& mailboxFolder, LoginFailureRecord& record);

}  // namespace core
