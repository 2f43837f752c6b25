// The entry points of the database back end "DB.dll" (calling conventions in
// core/db/DbInterface.h). Each runs under one process-wide mutex, because a
// setting lets the loader call without its own lock, and inside the boundary
// of every outside entry point (core/platform/Boundary.h):
// nothing raised inside ever leaves an entry point, a failure answers the
// entry point's failure value, and a lost connection is dropped so that the
// next call connects again.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <type_traits>

#include "backend/Location.h"
#include "backend/Odbc.h"
#include "backend/Store.h"
#include "core/db/DbInterface.h"
#include "core/platform/Boundary.h"

namespace {

struct BackEnd {
  std::mutex mutex;
  std::string connectionText;
  backend::Store store;
};

// Never destroyed: a destructor at unload would call into ODBC under the
// loader's lock. DBDoneConnection closes the connection before the unload.
BackEnd& State() {
  static BackEnd* state = new BackEnd;
  return *state;
}

void Connect(BackEnd& state) {
  if (!state.connectionText.empty()) {
    state.store.Connect(state.connectionText);
    return;
  }
  const std::vector<std::string> texts = backend::DefaultConnectionTexts();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    try {
      state.store.Connect(texts[i]);
      return;
    } catch (const backend::OdbcError&) {
      if (i + 1 == texts.size()) throw;
    }
  }
  throw backend::OdbcError("IM002", "no installation folder for the default database");
}

// Runs body(store) connected, at the boundary of the entry point; any
// failure gives failure. The mutex is held outside the inner boundary, so
// that even a structured exception inside the body releases it.
template <typename Result, typename Body>
Result Connected(Result failure, Body&& body) noexcept {
  return core::AtBoundary(failure, [&]() -> Result {
    BackEnd& state = State();
    std::lock_guard<std::mutex> hold(state.mutex);
    return core::AtBoundary(failure, [&]() -> Result {
      try {
        if (!state.store.Connected()) Connect(state);
        return body(state.store);
      } catch (const backend::OdbcError& error) {
        if (error.connectionLost()) state.store.Disconnect();
      }
      return failure;
    });
  });
}

// Runs body(state) under the mutex, at the boundary: 1, or 0 on any failure.
template <typename Body>
std::int32_t Locked(Body&& body) noexcept {
  return core::AtBoundary(std::int32_t{0}, [&]() -> std::int32_t {
    BackEnd& state = State();
    std::lock_guard<std::mutex> hold(state.mutex);
    return core::AtBoundary(std::int32_t{0}, [&]() -> std::int32_t {
      body(state);
      return 1;
    });
  });
}

std::string Text(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

}  // namespace

extern "C" {

// --- connection ---------------------------------------------------------------

std::int32_t __stdcall DBSetConnection(const char* connection) {
  return Locked([&](BackEnd& state) { state.connectionText = Text(connection); });
}

std::int32_t __stdcall DBReloadConfig() {
  return Locked([](BackEnd& state) {
    state.store.Disconnect();
    state.store.ForgetWalks();
    Connect(state);
  });
}

std::int32_t __stdcall DBDoneConnection() {
  return Locked([](BackEnd& state) {
    state.store.Disconnect();
    state.store.ForgetWalks();
  });
}

// --- domains --------------------------------------------------------------------

std::int32_t __stdcall DBGetDomain(const char* domain, std::uint8_t* record) {
  if (record == nullptr) return 0;
  return Connected(0, [&](backend::Store& s) { return s.GetDomain(Text(domain), record) ? 1 : 0; });
}

std::int32_t __stdcall DBSetDomain(const char* domain, const std::uint8_t* record) {
  if (record == nullptr) return 0;
  return Connected(0, [&](backend::Store& s) { return s.SetDomain(Text(domain), record) ? 1 : 0; });
}

std::int32_t __stdcall DBAddDomain(const char* domain) {
  return Connected(0, [&](backend::Store& s) { return s.AddDomain(Text(domain)) ? 1 : 0; });
}

std::int32_t __stdcall DBDeleteDomain(const char* domain) {
  return Connected(0, [&](backend::Store& s) { return s.DeleteDomain(Text(domain)) ? 1 : 0; });
}

std::int32_t __stdcall DBRenameDomain(const char* oldName, const char* newName) {
  return Connected(0, [&](backend::Store& s) { return s.RenameDomain(Text(oldName), Text(newName)) ? 1 : 0; });
}

std::int32_t __stdcall DBSetDomainIP(const char* domain, const char* binding) {
  return Connected(0, [&](backend::Store& s) { return s.SetDomainBinding(Text(domain), Text(binding)) ? 1 : 0; });
}

std::int32_t __stdcall DBGetDomainCount() {
  return Connected(0, [&](backend::Store& s) { return s.DomainCount(); });
}

std::int32_t __stdcall DBGetDomains(std::uint8_t* entries, std::int32_t count) {
  if (entries == nullptr || count <= 0) return 0;
  return Connected(0, [&](backend::Store& s) {
    s.GetDomains(entries, count);
    return 1;
  });
}

// --- accounts ---------------------------------------------------------------------

std::int32_t __stdcall DBSaveUsers(const char* domain, const std::uint8_t* record, std::int32_t index) {
  if (record == nullptr) return 0;
  return Connected(0, [&](backend::Store& s) { return s.SaveAccount(Text(domain), record, index) ? 1 : 0; });
}

std::int32_t __stdcall DBGetUsers(const char* domain, std::uint8_t* record, std::int32_t index) {
  if (record == nullptr) return 0;
  // Negative when the accounts could not be read, so that a caller can tell
  // that from a domain without accounts.
  return Connected(-1, [&](backend::Store& s) { return s.GetAccount(Text(domain), record, index); });
}

std::int32_t __stdcall DBDeleteUsers(std::int32_t index) {
  return Connected(0, [&](backend::Store& s) { return s.DeleteAccount(index) ? 1 : 0; });
}

std::int32_t __stdcall DBGetUsersIndex(const char* domain, const char* aliases) {
  return Connected(-1, [&](backend::Store& s) { return s.FindAccount(Text(domain), Text(aliases)); });
}

// --- account walk (the filter is not used: every caller passes an empty one) ------

std::int32_t __stdcall DBInitUsers(const char* domain, std::uint8_t* block, std::int32_t start, std::int32_t skipCount,
                                   const char* /*filter*/) {
  if (block == nullptr) return 0;
  return Connected(0, [&](backend::Store& s) { return s.OpenWalk(Text(domain), block, start, skipCount) ? 1 : 0; });
}

std::int32_t __stdcall DBNextUser(std::uint8_t* block) {
  if (block == nullptr) return 1;
  return Connected(1, [&](backend::Store& s) { return s.NextInWalk(block) ? 0 : 1; });
}

// Needs no connection: it only forgets the walk.
std::int32_t __stdcall DBDoneUsers(std::uint8_t* block) {
  if (block == nullptr) return 0;
  return Locked([&](BackEnd& state) { state.store.CloseWalk(block); });
}

// --- checks and logins ----------------------------------------------------------------

std::int32_t __stdcall DBCheckNewAlias(const char* domain, const char* aliases) {
  return Connected(0, [&](backend::Store& s) { return s.FindAccount(Text(domain), Text(aliases)) < 0 ? 1 : 0; });
}

std::int32_t __stdcall DBCheckForMailbox(const char* mailbox, const char* password, const char* aliases,
                                         std::int32_t usesBinding, const char* domain) {
  return Connected(0, [&](backend::Store& s) {
    return s.MailboxTaken(Text(mailbox), Text(password), Text(aliases), usesBinding != 0, Text(domain)) ? 1 : 0;
  });
}

// Method 0 (the plain password) is the only one the callers use; others are refused.
std::int32_t __stdcall DBGetMailBoxUser(std::int32_t method, const char* login, const char* password,
                                        std::uint8_t* record, char* domainOut, const char* ip,
                                        std::int32_t fullAddress) {
  if (method != 0 || record == nullptr || domainOut == nullptr) return 0;
  return Connected(0, [&](backend::Store& s) {
    return s.Login(Text(login), Text(password), record, domainOut, Text(ip), fullAddress != 0) ? 1 : 0;
  });
}

std::int32_t __stdcall DBGetLocalUser(const char* address, std::uint8_t* record) {
  if (record == nullptr) return 0;
  return Connected(0, [&](backend::Store& s) { return s.LocalUser(Text(address), record) ? 1 : 0; });
}

}  // extern "C"

// The exports must keep the shared interface's signatures.
DB_CHECK_ALL_SIGNATURES()
