#include "core/accounts/AccountStore.h"

#include <windows.h>

#include <vector>

#include "core/accounts/AccountCache.h"
#include "core/accounts/AccountHooks.h"
#include "core/accounts/RecordFile.h"
#include "core/config/ConfigStore.h"
#include "core/control/ServiceControl.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainTable.h"
#include "core/platform/Files.h"
#include "core/platform/InstallationLock.h"
#include "core/platform/LockTable.h"
#include "core/util/RecordScrambling.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::uint8_t DatabaseStorageMode = 2;
constexpr FieldRef WelcomeMessages = ConfigField("WelcomeMessages");
constexpr FieldRef DirectorySyncEnabled = ConfigField("DirectorySyncEnabled");
constexpr FieldRef LdapSync = ConfigField("LdapSync");

enum class Mode { Files, Database, Nowhere };

Mode StorageMode() {
  if (GetU8(Settings().data(), cfg::StorageMode) != DatabaseStorageMode) return Mode::Files;
  return IsDBLoaded() ? Mode::Database : Mode::Nowhere;
}

bool DirectorySyncOn() {
  const std::uint8_t* settings = Settings().data();
  return GetU8(settings, DirectorySyncEnabled) != 0 && GetU8(settings, LdapSync) != 0;
}

// The domain's name and account file; false for an unknown index or a name
// that is no safe folder name.
bool AccountFile(int domainIndex, std::string& domain, std::string& file, std::string* folderOut = nullptr) {
  domain = DomainListGetName(domainIndex);
  std::string folder;
  if (!DomainFolder(domain, folder)) return false;
  file = folder + "users.cfg";
  if (folderOut != nullptr) *folderOut = folder;
  return true;
}

bool AliasListEmpty(const std::uint8_t* record) { return Trim(FieldText(record, account::AliasList)).empty(); }

void AfterAccountWrite(const AccountRecordBytes& record, const std::string& domain, bool added,
                       const AccountRecordBytes* replaced) {
  try {
    if (GetU8(record.data(), account::Kind) == 0) {
      if (added && GetU8(Settings().data(), WelcomeMessages) != 0 &&
          GetU8(record.data(), account::SkipWelcomeMessages) == 0)
        RunImportMessagesHook(record, domain);
      // Only the modes that answer from it keep the mailbox's "respond.dat".
      if ((GetU8(record.data(), account::ResponderMode) & 0x03) <= 1) {
        const std::string folder = GetMailboxPath(FieldText(record.data(), account::MailboxPath), false, {});
        ::DeleteFileA((folder + "respond.dat").c_str());
      }
    }
    if (DirectorySyncOn()) RunSyncUserHook(added ? SyncMode::Add : SyncMode::Modify, record, replaced, domain);
  } catch (...) {
    // The write itself succeeded; what follows it is best effort.
  }
}

void NotifyPop3() {
  try {
    DefaultServiceNotifier().Notify(ServerPop3, ConfigChangedMessage, 0, 0);
  } catch (...) {
  }
}

std::string RemoteFile() { return ConfigFolder() + "remote.cfg"; }

template <typename Bytes>
std::int32_t ReadRecordAt(const std::string& path, Bytes& record, std::int32_t index) {
  RecordFile file(path, record.size());
  if (!file.OpenRead()) return 0;
  if (index >= 0) file.ReadAt(static_cast<std::uint32_t>(index), record.data());
  return static_cast<std::int32_t>(file.Count());
}

}  // namespace

// ---- Accounts -----------------------------------------------------------------

std::int32_t ReadAccountRecord(int domainIndex, AccountRecordBytes& record, std::int32_t index, bool* failed) {
  if (failed != nullptr) *failed = false;
  std::string domain, file;
  if (!AccountFile(domainIndex, domain, file)) return 0;
  switch (StorageMode()) {
    case Mode::Files:
      return ReadRecordAt(file, record, index);
    case Mode::Database: {
      AccountRecordBytes fetched = record;
      const std::int32_t count = DbGetUsers(domain.c_str(), fetched.data(), index, failed);
      if (index >= 0 && index < count) record = fetched;
      return count;
    }
    case Mode::Nowhere:
      if (failed != nullptr) *failed = true;
      break;
  }
  return 0;
}

namespace {

// The position of the first record of the account file whose alias list
// matches (groups resolved), -1 when none; found, when given, receives that
// record, read in the same pass.
std::int32_t ScanAccountFile(const std::string& file, std::string_view aliases, AccountRecordBytes* found) {
  RecordFile records(file, AccountRecordSize);
  if (!records.OpenRead()) return -1;
  const ListMatcher matcher(aliases, AccountGroupTest());
  constexpr std::uint32_t from = account::AliasList.offset;
  constexpr std::uint32_t width = account::AliasList.width + 1;
  std::int32_t position = -1;
  // Only the alias list of each record is unscrambled for the compare.
  records.ForEach(0, [&](std::uint32_t index, std::uint8_t* bytes) {
    ScrambleBuffer(bytes + from, width, from);
    if (!matcher.Matches(FieldText(bytes, account::AliasList))) return false;
    position = static_cast<std::int32_t>(index);
    if (found != nullptr) {
      std::copy(bytes, bytes + AccountRecordSize, found->begin());
      ScrambleBuffer(found->data(), from, 0);
      ScrambleBuffer(found->data() + from + width, AccountRecordSize - from - width, from + width);
    }
    return true;
  });
  return position;
}

}  // namespace

bool FindAccountRecordInFile(int domainIndex, std::string_view aliases, AccountRecordBytes& record) {
  std::string domain, file;
  return AccountFile(domainIndex, domain, file) && ScanAccountFile(file, aliases, &record) >= 0;
}

std::int32_t FindAccountIndex(int domainIndex, std::string_view aliases) {
  std::string domain, file;
  if (!AccountFile(domainIndex, domain, file)) return -1;
  switch (StorageMode()) {
    case Mode::Files:
      return ScanAccountFile(file, aliases, nullptr);
    case Mode::Database: {
      const std::int32_t index = DbGetUsersIndex(domain.c_str(), std::string(aliases).c_str());
      return index < 0 ? -1 : index;
    }
    case Mode::Nowhere:
      break;
  }
  return -1;
}

bool WriteAccountRecord(int domainIndex, const AccountRecordBytes& record, std::int32_t index) {
  if (AliasListEmpty(record.data())) return false;
  std::string domain, file, folder;
  if (!AccountFile(domainIndex, domain, file, &folder)) return false;
  bool added = false;
  AccountRecordBytes replaced{};
  bool haveReplaced = false;
  // The position and count come from the file inside this hold.
  InstallationHold installation;
  if (!installation.held()) return false;
  switch (StorageMode()) {
    case Mode::Files: {
      TableLock hold(AccountFilesLock);
      ForceDirectory(folder);
      std::vector<std::uint8_t> old;
      RecordFile records(file, AccountRecordSize);
      const bool written = records.WriteAt(index, record.data(), &old, added);
      NoteAccountFileChange(AccountFileKey(LowerCase(domain)),
                            written && added ? AccountFileChange::Appended : AccountFileChange::Other);
      if (written) NoteAccountFileChanged(domain);
      if (!written) return false;
      if (old.size() == replaced.size()) {
        std::copy(old.begin(), old.end(), replaced.begin());
        haveReplaced = true;
      }
      break;
    }
    case Mode::Database: {
      LockDatabase database;
      AccountRecordBytes previous{};
      const std::int32_t count = DbGetUsers(domain.c_str(), previous.data(), index);
      if (index < -1 || index > count) return false;
      added = index == -1 || index == count;
      if (!added) {
        replaced = previous;
        haveReplaced = true;
      }
      if (!DbSaveUsers(domain.c_str(), record.data(), index)) return false;
      NoteAccountFileChanged(domain);  // no cached copy may outlive the change
      break;
    }
    case Mode::Nowhere:
      return false;
  }
  AfterAccountWrite(record, domain, added, haveReplaced ? &replaced : nullptr);
  return true;
}

bool DeleteAccountRecord(int domainIndex, std::int32_t index, AccountRecordBytes* removedOut) {
  if (index < 0) return false;
  std::string domain, file;
  if (!AccountFile(domainIndex, domain, file)) return false;
  AccountRecordBytes removed{};
  InstallationHold installation;
  if (!installation.held()) return false;
  switch (StorageMode()) {
    case Mode::Files: {
      TableLock hold(AccountFilesLock);
      std::vector<std::uint8_t> bytes;
      RecordFile records(file, AccountRecordSize);
      const bool done = records.Remove(static_cast<std::uint32_t>(index), bytes);
      NoteAccountFileChange(AccountFileKey(LowerCase(domain)), AccountFileChange::Other);
      if (!done) return false;
      NoteAccountFileChanged(domain);
      std::copy(bytes.begin(), bytes.end(), removed.begin());
      break;
    }
    case Mode::Database: {
      // DBDeleteUsers works in the domain the latest DBGetUsers named: the
      // pair runs under one hold of lock 5, whatever byte 152 says.
      TableLock database(DatabaseLockIndex);
      const std::int32_t count = DbGetUsers(domain.c_str(), removed.data(), index);
      if (index >= count || !DbDeleteUsers(index)) return false;
      NoteAccountFileChanged(domain);
      break;
    }
    case Mode::Nowhere:
      return false;
  }
  if (removedOut != nullptr) *removedOut = removed;
  // Only after the deletion was committed.
  try {
    DeleteAccountDataFile(removed);
    if (DirectorySyncOn()) RunSyncUserHook(SyncMode::Delete, removed, nullptr, domain);
  } catch (...) {
  }
  return true;
}

void DeleteAccountDataFile(const AccountRecordBytes& record) {
  const std::string name = AccountDataFile(record.data());
  if (!name.empty()) DeleteFileInside(ConfigFilePath(name), RootFolder());
}

// ---- Remote accounts --------------------------------------------------------------

std::int32_t ReadRemoteAccounts(RemoteAccountRecordBytes& record, std::int32_t index) {
  return ReadRecordAt(RemoteFile(), record, index);
}

bool WriteRemoteAccount(const RemoteAccountRecordBytes& record, std::int32_t index) {
  bool written = false;
  {
    InstallationHold installation;
    TableLock hold(AccountFilesLock);
    RecordFile records(RemoteFile(), RemoteAccountRecordSize);
    bool appended = false;
    written = installation.held() && records.WriteAt(index, record.data(), nullptr, appended);
  }
  NotifyPop3();
  return written;
}

bool DeleteRemoteAccount(std::int32_t index) {
  bool deleted = false;
  std::vector<std::uint8_t> removed;
  if (index >= 0) {
    InstallationHold installation;
    TableLock hold(AccountFilesLock);
    RecordFile records(RemoteFile(), RemoteAccountRecordSize);
    deleted = installation.held() && records.Remove(static_cast<std::uint32_t>(index), removed);
  }
  if (deleted) {
    const std::string state = FieldText(removed.data(), RemoteStateFile);
    if (!state.empty()) {
      const std::string root = RootFolder();
      for (const char* suffix : {"", ".hdr", ".dom", ".rt"})
        DeleteFileInside(ConfigFilePath(state + suffix), root);
    }
  }
  NotifyPop3();
  return deleted;
}

}  // namespace core
