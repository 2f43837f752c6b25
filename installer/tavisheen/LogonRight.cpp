#include "installer/tavisheen/LogonRight.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace tavisheen {

namespace {

template <typename Proc>
void Bind(HMODULE module, const char* name, Proc& slot) {
  // Through void (*)() keeps GetProcAddress's generic signature free of warnings.
  slot = reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

inline void FreeLocal(char* buffer) noexcept { ::LocalFree(buffer); }
using SystemText = core::UniqueResource<char*, &FreeLocal>;

// The text is formatted into a buffer of the caller's guaranteed size, then
// copied with its zero, so no more than that size is ever written.
void Put(char* message, const char (&text)[kMessageSize]) noexcept {
  if (message != nullptr) std::memcpy(message, text, std::strlen(text) + 1);
}

void PutNoSid(char* message, std::int32_t code) noexcept {
  char text[kMessageSize];
  std::snprintf(text, sizeof text, "%d = Could not retrieve a security identifier (SID)", static_cast<int>(code));
  Put(message, text);
}

void PutLibraryFailure(char* message, std::int32_t code, const char* fixedText) noexcept {
  char text[kMessageSize];
  std::snprintf(text, sizeof text, "[Halvercot] [Qrn Library] %d - %s", static_cast<int>(code), fixedText);
  Put(message, text);
}

// An LSA_UNICODE_STRING over an owned buffer: the text in the system code
// page made wide, with a zero after it that the lengths leave out.
class CountedString {
 public:
  explicit CountedString(const char* text) {
    const int count = ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
    wide_.assign(count > 0 ? static_cast<std::size_t>(count) : 1u, L'\0');
    if (count > 0) ::MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, wide_.data(), count);
    value_.Length = static_cast<USHORT>((wide_.size() - 1) * sizeof(WCHAR));
    value_.MaximumLength = static_cast<USHORT>(value_.Length + sizeof(WCHAR));
    value_.Buffer = wide_.data();
  }
  CountedString(const CountedString&) = delete;
  CountedString& operator=(const CountedString&) = delete;

  LSA_UNICODE_STRING* get() noexcept { return &value_; }

 private:
  std::vector<WCHAR> wide_;
  LSA_UNICODE_STRING value_{};
};

// The local machine's policy, opened with every policy access right. Its
// close call comes from the table, so it is held here rather than in a
// UniqueResource; it is closed once, and only when the open succeeded.
class LsaPolicy {
 public:
  explicit LsaPolicy(const LsaCalls& calls) : calls_(calls) {
    LSA_OBJECT_ATTRIBUTES attributes;
    std::memset(&attributes, 0, sizeof attributes);
    LSA_HANDLE opened = nullptr;
    const NTSTATUS status = calls_.openPolicy(nullptr, &attributes, kPolicyAccess, &opened);
    if (status != 0) throw LsaException(calls_, status, kOpenPolicyText);
    handle_ = opened;
  }
  ~LsaPolicy() { calls_.close(handle_); }
  LsaPolicy(const LsaPolicy&) = delete;
  LsaPolicy& operator=(const LsaPolicy&) = delete;

  void AddRight(PSID sid, CountedString& right) {
    const NTSTATUS status = calls_.addAccountRights(handle_, sid, right.get(), 1);
    if (status != 0) throw LsaException(calls_, status, kAddRightText);
  }

 private:
  const LsaCalls& calls_;
  LSA_HANDLE handle_ = nullptr;
};

}  // namespace

ResolvedLsaCalls::ResolvedLsaCalls() : module_(::LoadLibraryA("advapi32")) {
  if (!module_) return;
  Bind(module_.get(), "LookupAccountNameA", calls_.lookupAccountName);
  Bind(module_.get(), "LsaOpenPolicy", calls_.openPolicy);
  Bind(module_.get(), "LsaAddAccountRights", calls_.addAccountRights);
  Bind(module_.get(), "LsaClose", calls_.close);
  Bind(module_.get(), "LsaNtStatusToWinError", calls_.statusToWinError);
}

LsaException::LsaException(const LsaCalls& calls, NTSTATUS status, const char* fixedText)
    : fixedText_(fixedText), code_(static_cast<std::int32_t>(calls.statusToWinError(status))) {
  // The system's buffer is copied and released at once: nothing that is
  // copied along with the exception owns it.
  SystemText text;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code_), LANG_USER_DEFAULT, reinterpret_cast<LPSTR>(text.put()), 0, nullptr);
  if (length > 0 && text) systemText_.assign(text.get(), length);
}

std::int32_t AddLogonAsService(const LsaCalls& calls, const char* account, char* message) noexcept {
  if (message != nullptr) message[0] = '\0';
  // A missing entry would be a call through null.
  if (!calls.complete()) return kNotGranted;
  // An empty name looks up the built-in domain, and a right granted to a
  // domain would be reported as success: neither is an account.
  if (account == nullptr || account[0] == '\0') {
    PutNoSid(message, kNoneMapped);
    return kNotGranted;
  }
  try {
    // Opened before the look-up, so a caller without rights learns that first.
    LsaPolicy policy(calls);
    CountedString right(kRightName);
    alignas(DWORD) BYTE sid[kSidBufferSize];
    char domain[kSidBufferSize];
    DWORD sidSize = kSidBufferSize;
    DWORD domainSize = kSidBufferSize;
    SID_NAME_USE use = SidTypeUnknown;
    if (!calls.lookupAccountName(nullptr, account, sid, &sidSize, domain, &domainSize, &use)) {
      PutNoSid(message, static_cast<std::int32_t>(::GetLastError()));
      return kNotGranted;
    }
    if (use == SidTypeDomain) {
      PutNoSid(message, kNoneMapped);
      return kNotGranted;
    }
    policy.AddRight(sid, right);
    return kGranted;
  } catch (const LsaException& failure) {
    PutLibraryFailure(message, failure.code(), failure.fixedText().c_str());
  } catch (...) {
    PutLibraryFailure(message, -1, "Unknown Exception");
  }
  return kLsaFailed;
}

}  // namespace tavisheen
