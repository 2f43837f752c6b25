#include "sender/config/SendingConfig.h"

#include <windows.h>

#include "core/accounts/AccountCache.h"
#include "core/accounts/AccountStore.h"
#include "core/config/ConfigStore.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainCache.h"
#include "core/domains/DomainRecords.h"
#include "core/domains/DomainTable.h"
#include "core/platform/Handles.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "core/startup/LibraryStart.h"
#include "core/util/PathText.h"
#include "core/util/Text.h"
#include "sender/config/AddressRules.h"
#include "sender/net/IPv6Lookup.h"

namespace sender {
namespace {

constexpr std::size_t FolderLength = 255;
constexpr std::uint8_t DatabaseStorageMode = 2;
// Configuration setting 88: an alias unknown in its domain is looked for in
// the others, when that domain's setting 1 is 0.
constexpr core::FieldRef SearchOtherDomains = core::ConfigField("SearchOtherDomains");
constexpr core::FieldRef DomainSetting1 =
    core::RefOf(core::DomainFields[core::FindSettingRow(core::SettingFamily::Domain, 1)]);

// The configuration lock. Every first hold passes the gate, and a load keeps
// the gate until it is done: waiting loads do not go before every lookup
// (the reader-writer lock alone would let a stream of loads starve them),
// and the lookups that came first do not hold a load back for ever.
SRWLOCK g_lock = SRWLOCK_INIT;
SRWLOCK g_gate = SRWLOCK_INIT;
thread_local int t_holds = 0;  // this thread's holds of g_lock, shared or exclusive

// What the last load read (guarded by g_lock): a load of another
// installation or storage mode starts with empty caches.
std::string g_loadedFolder;
int g_loadedStorageMode = -1;
// The installation's key, kept open between loads (guarded by g_lock): one
// registry call a load instead of three.
core::UniqueKey g_installKey;

struct ThreadHold {
  ThreadHold() { ++t_holds; }
  ~ThreadHold() { --t_holds; }
  ThreadHold(const ThreadHold&) = delete;
  ThreadHold& operator=(const ThreadHold&) = delete;
};

void EmptyCaches() {
  core::SizeAccountCache(static_cast<std::uint32_t>(core::AccountCacheSize()));
  core::SizeDomainCache(static_cast<std::uint32_t>(core::DomainCacheSize()));
}

// "InstallDir", REG_SZ only, read to its stored length (it need not end in a
// zero). A read that fails opens the key again once, so that a key deleted
// and created anew is seen.
std::string ReadInstallDir() {
  std::string text;
  if (g_installKey && core::ReadRegistryText(g_installKey.get(), InstallDirValue, true, text)) return text;
  g_installKey.reset();
  HKEY opened = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, SendingInstallKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return {};
  g_installKey.reset(opened);
  core::ReadRegistryText(opened, InstallDirValue, true, text);
  return text;
}

bool Load() {
  const std::string installDir = ReadInstallDir();
  if (installDir.empty()) return false;
  const std::string root = core::NormalizePath(installDir, true, true);
  const std::string config = root + "config\\";
  // Cut to 255 characters the text would name another folder.
  if (config.size() > FolderLength) return false;
  core::SetConfigFolder(config);
  // The configuration folder's parent, written without "config\..\".
  core::SetRootFolder(root);
  const bool loaded = core::InitServerConfig(false, false);
  const int storageMode = core::GetU8(core::Settings().data(), core::cfg::StorageMode);
  if (config != g_loadedFolder || storageMode != g_loadedStorageMode) {
    EmptyCaches();
    g_loadedFolder = config;
    g_loadedStorageMode = storageMode;
  }
  // The socket layer's IPv6 switch (a boolean) and DNS server list (a short
  // string) have no place in the settings record's documentation: until a
  // row names their offsets they read as off and empty (a guessed byte could
  // turn IPv6 on, a guessed text would send the AAAA queries to an unrelated
  // server).
  SetIPv6Settings(false, {});
  return loaded;
}

// Only whole cache keys are trusted: a longer alias would share its entry
// with every alias of the same first 127 characters.
bool Cacheable(const std::string& key) { return key.size() <= core::AccountCacheKeyLength; }

// Every served domain's "users.cfg" in table order, when the settings and
// the address's domain allow it; not cached.
bool FindInOtherDomains(const std::string& alias, const std::string& domain, core::AccountRecordBytes& record) {
  if (core::GetU8(core::Settings().data(), SearchOtherDomains) == 0) return false;
  core::DomainRecordBytes own{};
  if (!core::LoadDomainConfig(domain, own, true) || core::GetUnsigned(own.data(), DomainSetting1) != 0) return false;
  const std::uint32_t count = core::CountDomains();
  for (std::uint32_t other = 0; other < count; ++other) {
    if (core::FindAccountRecordInFile(static_cast<int>(other), alias, record)) return true;
  }
  return false;
}

bool FindInFiles(const std::string& alias, int index, core::AccountRecordBytes& record, bool useCache) {
  const std::string domain = core::DomainListGetName(index);
  const std::string key = core::LowerCase(alias);
  useCache = useCache && Cacheable(key);
  core::AccountFileStamp stamp;
  if (useCache) {
    // Taken before the file is read: a change during the read makes the
    // stored entry stale, never wrongly current. No file, no current entry.
    stamp = core::CurrentAccountFileStamp(domain);
    if (stamp.version != core::FileVersion{} && core::LookUpAccountCache(key, domain, stamp, false, record))
      return true;
  }
  if (core::FindAccountRecordInFile(index, alias, record)) {
    if (useCache) core::StoreAccountCache(key, domain, stamp, record);
    return true;
  }
  return FindInOtherDomains(alias, domain, record);
}

bool FindInBackEnd(const std::string& alias, const std::string& domain, int index, core::AccountRecordBytes& record,
                   bool useCache) {
  if (!core::IsDBLoaded()) return false;
  const std::string key = core::LowerCase(alias);
  const std::string domainKey = core::DomainListGetName(index);
  useCache = useCache && Cacheable(key);
  if (useCache && core::LookUpAccountCache(key, domainKey, {}, true, record)) return true;
  // The back end decides on the address as it was written. Whether it is
  // loaded is asked again inside the call, which an unload waits for.
  const std::string address = alias + "@" + domain;
  if (!core::DbGetLocalUser(address.c_str(), record.data())) return false;
  if (useCache) core::StoreAccountCache(key, domainKey, {}, record);
  return true;
}

bool Find(std::string_view address, core::AccountRecordBytes& record, bool useCache) {
  // The first domain as the table has it now (in storage mode 2 refreshed
  // from the back end first).
  const LookupAddress parts = SplitLookupAddress(address, [] {
    core::CountDomains();
    return core::DomainListGetName(0);
  });
  if (parts.refusal != AddressRefusal::None) return false;
  std::string domain = parts.domain;
  core::ResolveDomainName(domain);
  if (RefuseLookup(parts.alias, domain) != AddressRefusal::None) return false;
  const int index = core::DomainListFind(domain, true);
  if (index < 0) return false;
  switch (core::GetU8(core::Settings().data(), core::cfg::StorageMode)) {
    case 0:
    case 1:
      return FindInFiles(parts.alias, index, record, useCache);
    case DatabaseStorageMode:
      return FindInBackEnd(parts.alias, domain, index, record, useCache);
    default:
      return false;
  }
}

}  // namespace

bool LoadSendingConfig() {
  if (t_holds > 0) return false;
  core::ExclusiveSrwGuard gate(g_gate);
  core::ExclusiveSrwGuard guard(g_lock);
  ThreadHold hold;
  try {
    return Load();
  } catch (...) {
    return false;
  }
}

bool FindAccountByAddress(std::string_view address, core::AccountRecordBytes& record, bool useCache) {
  bool found = false;
  try {
    SendingConfigHold hold;
    found = Find(address, record, useCache);
  } catch (...) {
    found = false;
  }
  // A miss leaves nothing behind: not the last record scanned, not half an answer.
  if (!found) record.fill(0);
  return found;
}

SendingConfigHold::SendingConfigHold() : outermost_(t_holds == 0) {
  if (outermost_) {
    core::ExclusiveSrwGuard gate(g_gate);
    ::AcquireSRWLockShared(&g_lock);
  }
  ++t_holds;
}

SendingConfigHold::~SendingConfigHold() {
  --t_holds;
  if (outermost_) ::ReleaseSRWLockShared(&g_lock);
}

const core::ServiceNaming& SendingServiceNaming() {
  static constexpr core::ServiceNaming naming = core::SendingProfile.naming;
  return naming;
}

std::string GetServicePipeName(int kind) { return core::GetServicePipeName(kind, SendingServiceNaming()); }

}  // namespace sender
