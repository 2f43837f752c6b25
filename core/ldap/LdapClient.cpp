#include "core/ldap/LdapClient.h"

#include <windows.h>

#include <atomic>
#include <mutex>

#include "core/mime/TransferCodecs.h"
#include "core/platform/LibraryBinder.h"
#include "core/platform/SehGuard.h"
#include "core/platform/TextConversion.h"
#include "core/util/Text.h"

namespace core {

struct LdapTimeval {
  std::int32_t seconds;
  std::int32_t microseconds;
};

namespace {

using OpenProc = LdapSession*(__cdecl*)(const char* host, std::uint32_t port);
using BindProc = std::uint32_t(__cdecl*)(LdapSession* ld, const char* dn, const char* password, std::uint32_t method);
using UnbindProc = std::uint32_t(__cdecl*)(LdapSession* ld);
using ApplyProc = std::uint32_t(__cdecl*)(LdapSession* ld, const char* dn, LdapModRecord** modifications);
using DeleteProc = std::uint32_t(__cdecl*)(LdapSession* ld, const char* dn);
using ResultProc = std::uint32_t(__cdecl*)(LdapSession* ld, std::uint32_t message, std::uint32_t all,
                                           LdapTimeval* timeout, void** result);
using ResultToErrorProc = std::uint32_t(__cdecl*)(LdapSession* ld, void* result, std::uint32_t freeIt);

constexpr std::uint32_t SimpleAuthentication = 128;

struct EntryPoints {
  OpenProc open = nullptr;
  BindProc bind = nullptr;
  BindProc bindNow = nullptr;
  UnbindProc unbind = nullptr;
  ApplyProc add = nullptr;
  ApplyProc modify = nullptr;
  DeleteProc remove = nullptr;
  ResultProc result = nullptr;
  ResultToErrorProc resultToError = nullptr;
};

// library changes only under the exclusive hold of lock; every conversation
// reads it under a shared hold from open to unbind.
struct Binding {
  SRWLOCK lock = SRWLOCK_INIT;
  BoundLibrary<EntryPoints> library;
  const EntryPoints& entries = library.entries();
  bool toUtf8 = false;
  std::atomic<bool> loaded{false};
};

Binding g_binding;
std::mutex g_fileMutex;
std::string g_file = "LDAP32.Dll";

// A client lacking any of them is not used at all.
void BindAll(EntryBinder& binder, EntryPoints& e) {
  binder.Required("ldap_open", e.open);
  binder.Required("ldap_bind", e.bind);
  binder.Required("ldap_bind_s", e.bindNow);
  binder.Required("ldap_unbind", e.unbind);
  binder.Required("ldap_add", e.add);
  binder.Required("ldap_modify", e.modify);
  binder.Required("ldap_delete", e.remove);
  binder.Required("ldap_result", e.result);
  binder.Required("ldap_result2error", e.resultToError);
}

// Whether the client's code is the system's own LDAP library (a forwarder
// resolves into it), which converts ANSI texts to UTF-8 itself.
bool IsSystemClient(OpenProc open) {
  HMODULE owner = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(open), &owner))
    return false;
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(owner, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  const std::string name(path, length);
  const std::size_t slash = name.find_last_of("\\/");
  return SameText(slash == std::string::npos ? name : name.substr(slash + 1), "wldap32.dll");
}

// Calls proc with args under the exception guard; failure when it raised.
template <typename Result, typename Proc, typename... Args>
Result Guarded(Result failure, Proc proc, Args... args) noexcept {
  Result result = failure;
  auto body = [&] { result = static_cast<Result>(proc(args...)); };
  if (!RunGuardedCall(body)) return failure;
  return result;
}

}  // namespace

void SetLdapClientFile(const std::string& file) {
  std::lock_guard<std::mutex> guard(g_fileMutex);
  g_file = file;
}

bool LoadLDAPLibrary() {
  if (g_binding.loaded.load(std::memory_order_acquire)) return true;
  std::string file;
  {
    std::lock_guard<std::mutex> guard(g_fileMutex);
    file = g_file;
  }
  ExclusiveSrwGuard hold(g_binding.lock);
  if (g_binding.library.loaded()) return true;
  if (!g_binding.library.Load(file, 0, &BindAll)) return false;
  g_binding.toUtf8 = !IsSystemClient(g_binding.entries.open);
  g_binding.loaded.store(true, std::memory_order_release);
  return true;
}

void UnloadLDAPLibrary() {
  ExclusiveSrwGuard hold(g_binding.lock);
  g_binding.loaded.store(false, std::memory_order_release);
  g_binding.library.Free();
}

bool IsLDAPLibraryLoaded() { return g_binding.loaded.load(std::memory_order_acquire); }

void UnbindLdapSession(LdapSession* session) noexcept {
  if (g_binding.entries.unbind != nullptr) Guarded<std::uint32_t>(0, g_binding.entries.unbind, session);
}

LdapConnection::LdapConnection(const std::string& host, std::uint16_t port) : hold_(g_binding.lock) {
  if (!g_binding.library.loaded()) return;
  loaded_ = true;
  toUtf8_ = g_binding.toUtf8;
  session_.reset(Guarded<LdapSession*>(nullptr, g_binding.entries.open, host.c_str(), std::uint32_t{port}));
}

std::int32_t LdapConnection::Bind(const std::string& dn, const std::string& password) {
  if (!open()) return LdapNoMessage;
  return static_cast<std::int32_t>(Guarded<std::uint32_t>(static_cast<std::uint32_t>(LdapNoMessage),
                                                          g_binding.entries.bind, session_.get(), dn.c_str(),
                                                          password.c_str(), SimpleAuthentication));
}

std::int32_t LdapConnection::Apply(const std::string& dn, LdapModifications& modifications, bool modify) {
  if (!open()) return LdapNoMessage;
  return static_cast<std::int32_t>(Guarded<std::uint32_t>(static_cast<std::uint32_t>(LdapNoMessage),
                                                          modify ? g_binding.entries.modify : g_binding.entries.add,
                                                          session_.get(), dn.c_str(), modifications.data()));
}

std::int32_t LdapConnection::Delete(const std::string& dn) {
  if (!open()) return LdapNoMessage;
  return static_cast<std::int32_t>(Guarded<std::uint32_t>(static_cast<std::uint32_t>(LdapNoMessage),
                                                          g_binding.entries.remove, session_.get(), dn.c_str()));
}

int LdapConnection::WaitResult(std::int32_t message, long seconds) {
  if (!open() || message == LdapNoMessage) return LdapServerDown;
  LdapTimeval timeout{static_cast<std::int32_t>(seconds), 0};
  void* result = nullptr;
  const auto got = static_cast<std::int32_t>(
      Guarded<std::uint32_t>(static_cast<std::uint32_t>(-1), g_binding.entries.result, session_.get(),
                             static_cast<std::uint32_t>(message), std::uint32_t{0}, &timeout, &result));
  if (got == 0) return LdapTimeout;
  // A null message never reaches ldap_result2error: clients differ on it.
  if (got == -1 || result == nullptr) return LdapServerDown;
  return static_cast<int>(Guarded<std::uint32_t>(LdapLocalError, g_binding.entries.resultToError, session_.get(),
                                                 result, std::uint32_t{1}));
}

int LdapConnection::BindNow(const std::string& dn, const std::string& password) {
  if (!open()) return LdapServerDown;
  return static_cast<int>(Guarded<std::uint32_t>(LdapLocalError, g_binding.entries.bindNow, session_.get(), dn.c_str(),
                                                 password.c_str(), SimpleAuthentication));
}

std::string ClientDirectoryText(std::string_view text, bool toUtf8) {
  if (!IsValidUtf8(text)) return toUtf8 ? Latin1ToUtf8(text) : std::string(text);
  if (toUtf8 || !ContainsHighChars(text)) return std::string(text);
  std::wstring units;
  std::string out;
  if (!AnsiToWideExact(text, units, CP_UTF8) || !WideToAnsiExact(units, out)) return std::string(text);
  return out;
}

int LdapBindCheck(const std::string& server, std::uint16_t port, const std::string& bindName,
                  const std::string& password) {
  if (!LoadLDAPLibrary()) return LdapLocalError;
  LdapConnection connection(server, port);
  if (!connection.loaded()) return LdapLocalError;
  if (!connection.open()) return LdapServerDown;
  const bool toUtf8 = connection.convertsToUtf8();
  const std::string name = bindName.find('=') != std::string::npos ? ClientDirectoryText(bindName, toUtf8)
                           : toUtf8                                ? Latin1ToUtf8(bindName)
                                                                   : bindName;
  return connection.BindNow(name, toUtf8 ? Latin1ToUtf8(password) : password);
}

}  // namespace core
