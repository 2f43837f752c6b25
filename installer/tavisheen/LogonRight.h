#pragma once
// Grants an account the right to log on as a service through the Local
// Security Authority. The work runs over a table of the five advapi32 calls it
// makes, so tests can script every answer; the export fills the table from
// the system library (LsaCalls::Resolve) for the length of one call.
#include <windows.h>

#include <ntsecapi.h>

#include <cstdint>
#include <string>

#include "core/platform/Handles.h"

namespace tavisheen {

struct LsaCalls {
  decltype(&::LookupAccountNameA) lookupAccountName = nullptr;
  decltype(&::LsaOpenPolicy) openPolicy = nullptr;
  decltype(&::LsaAddAccountRights) addAccountRights = nullptr;
  decltype(&::LsaClose) close = nullptr;
  decltype(&::LsaNtStatusToWinError) statusToWinError = nullptr;

  bool complete() const noexcept {
    return lookupAccountName != nullptr && openPolicy != nullptr && addAccountRights != nullptr && close != nullptr &&
           statusToWinError != nullptr;
  }
};

// The table resolved from "advapi32", loaded by name; the module is freed
// when the resolver goes. Entries the library lacks stay null.
class ResolvedLsaCalls {
 public:
  ResolvedLsaCalls();
  const LsaCalls& calls() const noexcept { return calls_; }

 private:
  core::UniqueModule module_;
  LsaCalls calls_;
};

// Results of AddLogonAsService.
constexpr std::int32_t kGranted = 0;
constexpr std::int32_t kNotGranted = 1;  // no usable library, or no SID for the account
constexpr std::int32_t kLsaFailed = 2;

constexpr std::size_t kMessageSize = 256;  // the caller's buffer holds at least this much
constexpr ACCESS_MASK kPolicyAccess = 0x000F0FFF;
constexpr DWORD kSidBufferSize = 1024;
constexpr DWORD kNoneMapped = 1332;  // the system's code for a name that maps to no SID

inline constexpr char kOpenPolicyText[] = "Could not open a handle to the Policy object on a local or remote system";
inline constexpr char kAddRightText[] = "Could not assign one or more privileges to an account";
inline constexpr char kRightName[] = "SeServiceLogonRight";

// A failed LSA call: the step's fixed text, the Win32 code of the status and
// the system's text for that code. It owns copies, so copying it when it is
// thrown is harmless.
class LsaException {
 public:
  LsaException(const LsaCalls& calls, NTSTATUS status, const char* fixedText);
  const std::string& fixedText() const noexcept { return fixedText_; }
  std::int32_t code() const noexcept { return code_; }
  const std::string& systemText() const noexcept { return systemText_; }

 private:
  std::string fixedText_;
  std::int32_t code_ = 0;
  std::string systemText_;
};

// The grant over a table. A null message receives nothing; otherwise it
// receives at most kMessageSize bytes, zero included.
std::int32_t AddLogonAsService(const LsaCalls& calls, const char* account, char* message) noexcept;

}  // namespace tavisheen
