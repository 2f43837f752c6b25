#include "core/db/DbLibrary.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "core/config/ConfigStore.h"
#include "core/platform/Handles.h"
#include "core/platform/LibraryBinder.h"
#include "core/platform/LockTable.h"
#include "core/platform/SehGuard.h"

namespace core {
namespace {

struct EntryPoints {
  DBSetConnectionProc setConnection = nullptr;
  DBReloadConfigProc reloadConfig = nullptr;
  DBDoneConnectionProc doneConnection = nullptr;
  DBGetDomainProc getDomain = nullptr;
  DBSetDomainProc setDomain = nullptr;
  DBAddDomainProc addDomain = nullptr;
  DBDeleteDomainProc deleteDomain = nullptr;
  DBRenameDomainProc renameDomain = nullptr;
  DBSetDomainIPProc setDomainIP = nullptr;
  DBGetDomainCountProc getDomainCount = nullptr;
  DBGetDomainsProc getDomains = nullptr;
  DBSaveUsersProc saveUsers = nullptr;
  DBGetUsersProc getUsers = nullptr;
  DBDeleteUsersProc deleteUsers = nullptr;
  DBGetUsersIndexProc getUsersIndex = nullptr;
  DBInitUsersProc initUsers = nullptr;
  DBNextUserProc nextUser = nullptr;
  DBDoneUsersProc doneUsers = nullptr;
  DBCheckNewAliasProc checkNewAlias = nullptr;
  DBCheckForMailboxProc checkForMailbox = nullptr;
  DBGetMailBoxUserProc getMailBoxUser = nullptr;
  DBGetLocalUserProc getLocalUser = nullptr;
};

// The loaded library. library changes only under the exclusive hold of lock;
// every call reads it under a shared hold for its whole duration, so the
// library cannot be freed under a running call. loaded mirrors
// library.loaded() for a quick test without the lock.
struct LibraryState {
  SRWLOCK lock = SRWLOCK_INIT;
  BoundLibrary<EntryPoints> library;
  std::atomic<bool> loaded{false};
};

LibraryState g_library;

// Every entry point is optional: a missing name leaves the slot null, which
// each call treats as failure.
void BindAll(EntryBinder& binder, EntryPoints& e) {
  binder.Optional("DBSetConnection", e.setConnection);
  binder.Optional("DBReloadConfig", e.reloadConfig);
  binder.Optional("DBDoneConnection", e.doneConnection);
  binder.Optional("DBGetDomain", e.getDomain);
  binder.Optional("DBSetDomain", e.setDomain);
  binder.Optional("DBAddDomain", e.addDomain);
  binder.Optional("DBDeleteDomain", e.deleteDomain);
  binder.Optional("DBRenameDomain", e.renameDomain);
  binder.Optional("DBSetDomainIP", e.setDomainIP);
  binder.Optional("DBGetDomainCount", e.getDomainCount);
  binder.Optional("DBGetDomains", e.getDomains);
  binder.Optional("DBSaveUsers", e.saveUsers);
  binder.Optional("DBGetUsers", e.getUsers);
  binder.Optional("DBDeleteUsers", e.deleteUsers);
  binder.Optional("DBGetUsersIndex", e.getUsersIndex);
  binder.Optional("DBInitUsers", e.initUsers);
  binder.Optional("DBNextUser", e.nextUser);
  binder.Optional("DBDoneUsers", e.doneUsers);
  binder.Optional("DBCheckNewAlias", e.checkNewAlias);
  binder.Optional("DBCheckForMailbox", e.checkForMailbox);
  binder.Optional("DBGetMailBoxUser", e.getMailBoxUser);
  binder.Optional("DBGetLocalUser", e.getLocalUser);
}

// Calls proc under the exception guard: its answer, or failure when the
// entry point is missing or raised.
template <typename Proc, typename... Args>
std::int32_t CallGuarded(Proc proc, std::int32_t failure, Args... args) noexcept {
  if (proc == nullptr) return failure;
  std::int32_t result = failure;
  auto body = [&] { result = proc(args...); };
  if (!RunGuardedCall(body)) return failure;
  return result;
}

// One call of an entry point under the database lock and a shared hold of
// the library state.
template <typename Proc, typename... Args>
std::int32_t Call(Proc EntryPoints::*slot, std::int32_t failure, Args... args) noexcept {
  if (!g_library.loaded.load(std::memory_order_acquire)) return failure;
  LockDatabase databaseLock;
  SharedSrwGuard hold(g_library.lock);
  if (!g_library.library.loaded()) return failure;
  return CallGuarded(g_library.library.entries().*slot, failure, args...);
}

const char* Text(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

bool LoadDBLibrary(const std::string& rootFolder) {
  ExclusiveSrwGuard hold(g_library.lock);
  if (g_library.library.loaded()) return true;
  if (rootFolder.empty()) return false;
  std::string path = rootFolder;
  if (path.back() != '\\' && path.back() != '/') path += '\\';
  path += "DB.dll";
  // LOAD_WITH_ALTERED_SEARCH_PATH: the back end's own DLLs are found beside it.
  if (!g_library.library.Load(path, LOAD_WITH_ALTERED_SEARCH_PATH, &BindAll)) return false;
  g_library.loaded.store(true, std::memory_order_release);
  return true;
}

bool ConnectDatabase(const std::string& rootFolder, const std::string& connection) {
  if (!LoadDBLibrary(rootFolder)) return false;
  {
    // One hold for both, so no other call slips in between.
    LockDatabase databaseLock;
    DbSetConnection(connection.c_str());
    DbReloadConfig();
  }
  return IsDBLoaded();
}

void UnloadDBLibrary() {
  ExclusiveSrwGuard hold(g_library.lock);
  if (!g_library.library.loaded()) return;
  g_library.loaded.store(false, std::memory_order_release);
  // The back end closes its connection while its code is still mapped.
  CallGuarded(g_library.library.entries().doneConnection, 0);
  g_library.library.Free();
}

LockDatabase::LockDatabase() {
  if (GetU8(Settings().data(), cfg::DbNoLock) != 0) return;
  EnterLock(DatabaseLockIndex);
  entered_ = true;
}

LockDatabase::~LockDatabase() {
  if (entered_) LeaveLock(DatabaseLockIndex);
}

bool IsDBLoaded() { return g_library.loaded.load(std::memory_order_acquire); }

bool DbSetConnection(const char* connection) { return Call(&EntryPoints::setConnection, 0, Text(connection)) != 0; }

bool DbReloadConfig() { return Call(&EntryPoints::reloadConfig, 0) != 0; }

bool DbGetDomain(const char* domain, std::uint8_t* record) {
  if (record == nullptr) return false;
  return Call(&EntryPoints::getDomain, 0, Text(domain), record) != 0;
}

bool DbSetDomain(const char* domain, const std::uint8_t* record) {
  if (record == nullptr) return false;
  return Call(&EntryPoints::setDomain, 0, Text(domain), record) != 0;
}

bool DbAddDomain(const char* domain) { return Call(&EntryPoints::addDomain, 0, Text(domain)) != 0; }

bool DbDeleteDomain(const char* domain) { return Call(&EntryPoints::deleteDomain, 0, Text(domain)) != 0; }

bool DbRenameDomain(const char* oldName, const char* newName) {
  return Call(&EntryPoints::renameDomain, 0, Text(oldName), Text(newName)) != 0;
}

bool DbSetDomainIP(const char* domain, const char* binding) {
  return Call(&EntryPoints::setDomainIP, 0, Text(domain), Text(binding)) != 0;
}

std::int32_t DbGetDomainCount() {
  const std::int32_t count = Call(&EntryPoints::getDomainCount, 0);
  return count > 0 ? count : 0;
}

bool DbGetDomains(std::uint8_t* entries, std::int32_t count) {
  if (entries == nullptr || count <= 0) return false;
  return Call(&EntryPoints::getDomains, 0, entries, count) != 0;
}

bool DbSaveUsers(const char* domain, const std::uint8_t* record, std::int32_t index) {
  if (record == nullptr) return false;
  return Call(&EntryPoints::saveUsers, 0, Text(domain), record, index) != 0;
}

std::int32_t DbGetUsers(const char* domain, std::uint8_t* record, std::int32_t index, bool* failed) {
  if (failed != nullptr) *failed = true;
  if (record == nullptr) return 0;
  const std::int32_t count = Call(&EntryPoints::getUsers, -1, Text(domain), record, index);
  if (failed != nullptr) *failed = count < 0;
  return count > 0 ? count : 0;
}

bool DbDeleteUsers(std::int32_t index) { return Call(&EntryPoints::deleteUsers, 0, index) != 0; }

std::int32_t DbGetUsersIndex(const char* domain, const char* aliases) {
  const std::int32_t index = Call(&EntryPoints::getUsersIndex, -1, Text(domain), Text(aliases));
  return index >= 0 ? index : -1;
}

bool DbInitUsers(const char* domain, std::uint8_t* block, std::int32_t start, std::int32_t skipCount,
                 const char* filter) {
  if (block == nullptr) return false;
  return Call(&EntryPoints::initUsers, 0, Text(domain), block, start, skipCount, Text(filter)) != 0;
}

std::int32_t DbNextUser(std::uint8_t* block) {
  if (block == nullptr) return 1;
  return Call(&EntryPoints::nextUser, 1, block) == 0 ? 0 : 1;
}

bool DbDoneUsers(std::uint8_t* block) {
  if (block == nullptr) return false;
  return Call(&EntryPoints::doneUsers, 0, block) != 0;
}

bool DbCheckNewAlias(const char* domain, const char* aliases) {
  return Call(&EntryPoints::checkNewAlias, 0, Text(domain), Text(aliases)) != 0;
}

bool DbCheckForMailbox(const char* mailbox, const char* password, const char* aliases, bool usesBinding,
                       const char* domain) {
  return Call(&EntryPoints::checkForMailbox, 0, Text(mailbox), Text(password), Text(aliases),
              std::int32_t{usesBinding ? 1 : 0}, Text(domain)) != 0;
}

bool DbGetMailBoxUser(std::int32_t method, const char* login, const char* password, std::uint8_t* record,
                      std::string& domainOut, const char* ip, bool fullAddress) {
  domainOut.clear();
  if (record == nullptr) return false;
  // The library writes into a buffer of the agreed size; its end is forced to
  // zero, so an unterminated answer cannot run past it.
  char buffer[DbDomainNameOutSize] = {};
  char* out = buffer;
  const bool accepted = Call(&EntryPoints::getMailBoxUser, 0, method, Text(login), Text(password), record, out,
                             Text(ip), std::int32_t{fullAddress ? 1 : 0}) != 0;
  if (!accepted) return false;
  buffer[DbDomainNameOutSize - 1] = '\0';
  domainOut.assign(buffer, std::strlen(buffer));
  return true;
}

bool DbGetLocalUser(const char* address, std::uint8_t* record) {
  if (record == nullptr) return false;
  return Call(&EntryPoints::getLocalUser, 0, Text(address), record) != 0;
}

}  // namespace core
