#include "core/ldap/LdapSync.h"

#include <mutex>
#include <utility>

#include "core/accounts/AccountRecord.h"
#include "core/config/ConfigStore.h"
#include "core/config/InstallKey.h"
#include "core/ldap/DirectoryEntry.h"
#include "core/ldap/LdapClient.h"
#include "core/mime/TransferCodecs.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"

namespace core {
namespace {

constexpr FieldRef PersonName = RefOf(AccountField("TwoPartTextHead"));  // its part before ";"
constexpr FieldRef LdapPort = ConfigField("LdapPort");

// The directory settings, read at the first synchronisation; under lock 1.
struct DirectoryState {
  bool pending = true;
  DirectorySettings settings;
};
DirectoryState g_directory;

std::mutex g_bypassMutex;
LdapBypassTest g_bypass;

std::mutex g_outcomeMutex;
LdapSyncOutcome g_outcome;

bool Bypassed(const std::string& address) {
  LdapBypassTest test;
  {
    std::lock_guard<std::mutex> guard(g_bypassMutex);
    test = g_bypass;
  }
  if (!test) return false;
  const std::string file = ConfigFolder() + "ldapbypass.dat";
  return FileExists(file) && test(address, file);
}

// The name value of a record's entry; empty when the record has none in the
// directory (another kind, a blank first alias, an exempt address).
std::string SyncedName(const AccountRecordBytes& record, std::string_view domain) {
  if (GetU8(record.data(), account::Kind) != 0) return {};
  std::string name = EntryNameValue(FieldText(record.data(), account::AliasList), domain);
  if (!name.empty() && Bypassed(name)) name.clear();
  return name;
}

// One synchronisation, under lock 1.
void Synchronise(SyncMode mode, const AccountRecordBytes& record, const AccountRecordBytes* replaced,
                 std::string_view domain, LdapSyncOutcome& outcome) {
  if (g_directory.pending) ReadSlapdConfig();
  const DirectorySettings& settings = g_directory.settings;
  if (settings.userSuffix.empty()) return;

  const std::string name = SyncedName(record, domain);
  std::string old = replaced != nullptr ? SyncedName(*replaced, domain) : std::string();
  if (!name.empty() && SameEntryName(old, name)) old.clear();  // the same entry, written in place
  if (name.empty() && old.empty()) return;
  if (!name.empty()) outcome.dn = BuildUserDn(name, domain, settings.userSuffix);

  if (!LoadLDAPLibrary()) return;
  LdapConnection connection(GetLDAPHost(), GetU16(Settings().data(), LdapPort));
  if (!connection.open()) return;
  const bool toUtf8 = connection.convertsToUtf8();
  const auto run = [&](const char* kind, const std::string& dn, std::int32_t message) {
    const int result = message == LdapNoMessage ? -1 : connection.WaitResult(message);
    outcome.operations.push_back({kind, dn, result});
    return result;
  };
  // Nothing is written unless the bind was accepted: no anonymous writes, and
  // no wait per operation on a server that does not answer.
  // The file's texts are passed as it holds them; only the account's own
  // texts (its name value, the domain) are converted, each once.
  const auto fileText = [&](const std::string& text) { return ClientDirectoryText(text, toUtf8); };
  const auto recordText = [&](std::string_view text) { return toUtf8 ? Latin1ToUtf8(text) : std::string(text); };
  if (run("bind", settings.rootDn, connection.Bind(fileText(settings.rootDn), fileText(settings.rootPassword))) !=
      LdapSuccess)
    return;

  const std::string suffix = fileText(settings.userSuffix);
  const auto dnOf = [&](const std::string& value) {
    return BuildUserDn(recordText(value), recordText(domain), suffix);
  };
  if (!old.empty()) {
    const std::string dn = dnOf(old);
    run("delete", dn, connection.Delete(dn));
  }
  if (name.empty()) return;
  const std::string dn = dnOf(name);
  if (mode == SyncMode::Delete) {
    run("delete", dn, connection.Delete(dn));
    return;
  }
  const std::string aliases = FieldText(record.data(), account::AliasList);
  const std::string person = FieldText(record.data(), PersonName);
  const auto apply = [&](bool modify) {
    LdapModifications modifications(BuildLdapUserEntry(aliases, person, domain, modify), toUtf8);
    return run(modify ? "modify" : "add", dn, connection.Apply(dn, modifications, modify));
  };
  // A missing entry is added and an existing one replaced: this also repairs
  // a deletion missed while the directory was down.
  const bool modify = mode == SyncMode::Modify;
  const int result = apply(modify);
  if (result == (modify ? LdapNoSuchObject : LdapAlreadyExists)) apply(!modify);
}

}  // namespace

void SyncUserToLDAP(SyncMode mode, const AccountRecordBytes& record, const AccountRecordBytes* replaced,
                    std::string_view domain) {
  LdapSyncOutcome outcome;
  try {
    const bool current = GetU8(record.data(), account::Kind) == 0;
    const bool previous = replaced != nullptr && GetU8(replaced->data(), account::Kind) == 0;
    if (current || previous) {
      TableLock hold(DirectorySyncLock);
      Synchronise(mode, record, replaced, domain, outcome);
    }
  } catch (...) {
    // The account operation has succeeded already; nothing reaches its caller.
  }
  try {
    std::lock_guard<std::mutex> guard(g_outcomeMutex);
    g_outcome = std::move(outcome);
  } catch (...) {
  }
}

bool ReadSlapdConfig() {
  TableLock hold(DirectorySyncLock);
  g_directory.pending = false;
  std::string file = HostProgramFolder() + "ldap\\slapd.conf";
  if (!FileExists(file)) {
    std::string root;
    try {
      root = ReadMachineRegistryText(InstallKey, "InstallDir");
    } catch (...) {
    }
    // No installation folder: nothing is looked for in whatever folder is current.
    if (root.empty()) return false;
    if (root.back() != '\\') root += '\\';
    file = root + "ldap\\slapd.conf";
    if (!FileExists(file)) return false;
  }
  std::string text;
  const bool read = ReadFileToString(file, false, text);
  g_directory.settings = read ? ParseSlapdConfig(text) : DirectorySettings{};
  return read;
}

void FinaliseLdapUnit() {
  {
    TableLock hold(DirectorySyncLock);
    g_directory = DirectoryState{};
  }
  UnloadLDAPLibrary();
}

void SetLdapBypassTest(LdapBypassTest test) {
  std::lock_guard<std::mutex> guard(g_bypassMutex);
  g_bypass = std::move(test);
}

LdapSyncOutcome LastLdapSyncOutcome() {
  std::lock_guard<std::mutex> guard(g_outcomeMutex);
  return g_outcome;
}

}  // namespace core
