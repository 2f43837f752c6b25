// Account exports: reads, the checks before an account is stored, the
// enumeration handles, authentication and the password policy. Account
// changes run one at a time in this library, so that a check and the write
// it allows see the same file; they send no notice.
#include <windows.h>

#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "api/ExportSupport.h"
#include "core/accounts/AccountStore.h"
#include "core/auth/Authenticate.h"
#include "core/auth/PasswordRules.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainTable.h"
#include "core/lists/AccountIndex.h"
#include "core/lists/AccountLists.h"
#include "core/platform/InstallationLock.h"
#include "core/userstat/StatFiles.h"
#include "core/util/NameText.h"
#include "core/util/PathText.h"
#include "core/util/Text.h"

using namespace api;
using core::AccountRecordBytes;
using core::FieldText;

namespace {

namespace account = core::account;
constexpr core::FieldRef PasswordPolicy = core::ConfigField("PasswordPolicyOn");
constexpr core::FieldRef DefaultsSwitch = core::ConfigField("DefaultsOn");
constexpr core::FieldRef WritesDomainFile = core::RefOf(core::AccountField("UserType2"));
constexpr std::size_t MailboxNameLength = 127;
constexpr std::int32_t RecordSize = API_ACCOUNT_RECORD_SIZE;
// A statistics filter may name many accounts; it is read whole up to here.
constexpr std::size_t FilterTextLength = 1 << 20;

// The enumeration exports answer false instead of -5 or an error.
constexpr ExportRules Enumerating{.notInitialised = 0, .onException = 0};
// The policy check answers "violates" when it could not decide.
constexpr ExportRules Judging{.onException = 0};

std::mutex g_accountChanges;

bool Kind0(const AccountRecordBytes& record) { return core::GetU8(record.data(), account::Kind) == 0; }

AccountRecordBytes CopyIn(const void* buffer) {
  AccountRecordBytes record{};
  std::memcpy(record.data(), buffer, record.size());
  return record;
}

// The items of the new alias list that the old list does not hold, each
// followed by ";": only those need the uniqueness check.
std::string AddedAliases(const std::string& aliases, const std::string& old) {
  std::string list = core::CutTo(core::Trim(aliases), CallerTextLength);
  if (list.empty() || list.back() != ';') {
    if (list.size() >= CallerTextLength) list.pop_back();
    list += ';';
  }
  const core::GroupMemberTest groups = core::GroupTestOver(core::ConfigGroupFiles());
  std::string added;
  for (std::size_t start = 0, semi = list.find(';'); semi != std::string::npos;
       start = semi + 1, semi = list.find(';', start)) {
    const std::string item = list.substr(start, semi - start);
    if (!core::MatchStringLists(item, old, groups)) added += item + ';';
  }
  return added;
}

// An empty mailbox name of an ordinary account becomes its first alias.
void DefaultMailboxName(AccountRecordBytes& record) {
  if (Kind0(record) && FieldText(record.data(), account::MailboxName).empty())
    core::SetShortString(
        record.data(), account::MailboxName,
        core::CutTo(core::FirstListItem(FieldText(record.data(), account::AliasList)), MailboxNameLength));
}

// Alias list and (ordinary accounts) mailbox name hold only address
// characters, and the alias list is not empty.
bool AddressesUsable(const AccountRecordBytes& record) {
  const std::string aliases = FieldText(record.data(), account::AliasList);
  if (core::Trim(aliases).empty() || !core::IsValidAddressChars(aliases, true)) return false;
  return !Kind0(record) || core::IsValidAddressChars(FieldText(record.data(), account::MailboxName), false);
}

// An empty mailbox path becomes domain\first alias\ under the table's name
// of the domain (the folder DeleteDomain removes); any path ends in "\".
// False when the folder would leave the mail root or the domain's folder (a
// first alias "." or "..", a given relative path that climbs out): such an
// account would keep its mail, and "domain.dat", in a folder of others.
bool DefaultMailboxPath(AccountRecordBytes& record, const std::string& domain) {
  std::string path = FieldText(record.data(), account::MailboxPath);
  if (path.empty()) {
    const std::string folder =
        core::RemoveFileNameChars(core::FirstListItem(FieldText(record.data(), account::AliasList)));
    if (!core::MailboxPathStaysInside(folder)) return false;
    path = core::RemoveFileNameChars(domain + "\\" + folder + "\\");
  } else if (!core::IsAbsolutePath(path) && !core::MailboxPathStaysInside(path)) {
    return false;
  }
  core::SetShortString(record.data(), account::MailboxPath,
                       core::CutTo(core::NormalizePath(path, true, false), CallerTextLength));
  return true;
}

bool PolicyRejects(const AccountRecordBytes& record) {
  const std::uint8_t* settings = core::Settings().data();
  return core::GetU8(settings, PasswordPolicy) != 0 &&
         !core::CheckPasswordRules(settings, FieldText(record.data(), account::Password),
                                   FieldText(record.data(), account::MailboxName),
                                   FieldText(record.data(), account::AliasList));
}

// Whether another account keeps its mail in, above or below this folder.
bool FolderInUse(const std::string& folder) { return MailFolderInUse(folder, FolderUse::InsideOrAbove); }

// ---- Enumeration handles ------------------------------------------------------

// The blocks this library handed out. A call on a handle finds it here or
// answers false; a closing call waits for a call in flight on the same block.
struct Enumeration {
  std::mutex busy;
  std::unique_ptr<std::uint8_t[]> block;
  bool open = true;
};

std::mutex g_enumerationsMutex;
std::map<const void*, std::shared_ptr<Enumeration>>& Enumerations() {
  static std::map<const void*, std::shared_ptr<Enumeration>> open;
  return open;
}
// Closed blocks are kept a while, so that a stale handle does not name a
// new enumeration at once.
std::deque<std::shared_ptr<Enumeration>>& Retired() {
  static std::deque<std::shared_ptr<Enumeration>> retired;
  return retired;
}
constexpr std::size_t RetiredKept = 16;

std::shared_ptr<Enumeration> FindEnumeration(const void* handle) {
  std::lock_guard<std::mutex> guard(g_enumerationsMutex);
  const auto found = Enumerations().find(handle);
  return found == Enumerations().end() ? nullptr : found->second;
}

void Close(Enumeration& enumeration) {
  std::lock_guard<std::mutex> busy(enumeration.busy);
  if (!enumeration.open) return;
  enumeration.open = false;
  core::DoneUsers(enumeration.block.get());
}

}  // namespace

namespace api {

std::size_t OpenEnumerationCount() {
  std::lock_guard<std::mutex> guard(g_enumerationsMutex);
  return Enumerations().size();
}

void FreeEnumerations() {
  std::map<const void*, std::shared_ptr<Enumeration>> left;
  {
    std::lock_guard<std::mutex> guard(g_enumerationsMutex);
    left.swap(Enumerations());
    Retired().clear();
  }
  for (auto& entry : left)
    Close(*entry.second);
}

}  // namespace api

// ---- Reads ------------------------------------------------------------------------

int32_t API_CALL GetUserCount(const char* domain) {
  return Guarded(Reading, [&]() -> std::int32_t {
    const int index = DomainIndexOf(domain);
    if (index < 0) return API_FAILED;
    AccountRecordBytes record{};
    bool failed = false;
    const std::int32_t count = core::ReadAccountRecord(index, record, 0, &failed);
    return failed ? API_FAILED : count;
  });
}

int32_t API_CALL GetUserList(const char* domain, void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    const int index = DomainIndexOf(domain);
    if (index < 0) return API_FAILED;
    std::string list;
    std::vector<std::uint8_t> block(core::AccountEnumerationSize);
    if (core::InitUsers(core::DomainListGetName(index), block.data(), "", 0, 0)) {
      try {
        while (core::NextUser(block.data()) == 0) {
          // An empty item would end the list for every reader.
          const std::string first = core::FirstListItem(FieldText(block.data(), account::AliasList));
          if (!first.empty()) list += first + '\0';
        }
      } catch (...) {
        // What was collected stays.
      }
      core::DoneUsers(block.data());
    }
    list += '\0';
    return PutText(list, buffer, len);
  });
}

int32_t API_CALL GetUserIndex(const char* domain, const char* alias) {
  return Guarded(Reading, [&]() -> std::int32_t {
    const int index = DomainIndexOf(domain);
    if (index < 0) return API_FAILED;
    const std::int32_t found = core::FindAccountIndex(index, CallerText(alias));
    return found < 0 ? API_FAILED : found;
  });
}

int32_t API_CALL LoadUser(const char* domain, int32_t index, void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (!RecordUsable(buffer, len, RecordSize)) return API_BAD_ARGUMENT;
    const int domainIndex = DomainIndexOf(domain);
    if (domainIndex < 0) return API_FAILED;
    AccountRecordBytes record{};
    if (core::ReadAccountRecord(domainIndex, record, index) == 0 ||
        FieldText(record.data(), account::AliasList).empty())
      return API_FAILED;
    std::memcpy(buffer, record.data(), record.size());
    return RecordSize;
  });
}

// ---- Changes ----------------------------------------------------------------------

int32_t API_CALL SaveUser(const char* domain, int32_t index, const void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (!RecordUsable(buffer, len, RecordSize)) return API_BAD_ARGUMENT;
    const int domainIndex = DomainIndexOf(domain);
    if (domainIndex < 0) return API_FAILED;
    const std::string name = core::DomainListGetName(domainIndex);
    std::lock_guard<std::mutex> changes(g_accountChanges);
    // From the checks to the commit: no other process changes the file between.
    core::InstallationHold installation;
    if (!installation.held()) return API_FAILED;
    AccountRecordBytes record = CopyIn(buffer);
    AccountRecordBytes old{};
    // Only an existing account: -1 or the count would append past AddUser's checks.
    if (index < 0) return API_BAD_ARGUMENT;
    bool failed = false;
    const std::int32_t count = core::ReadAccountRecord(domainIndex, old, index, &failed);
    if (failed) return API_FAILED;  // not a bad index: the accounts could not be read
    if (index >= count) return API_BAD_ARGUMENT;
    const bool kind0 = Kind0(record);
    const std::string aliases = FieldText(record.data(), account::AliasList);
    const std::string oldAliases = FieldText(old.data(), account::AliasList);
    if (kind0 && !aliases.empty() && !core::SameText(aliases, oldAliases) &&
        !core::IndexedCheckNewAlias(name, AddedAliases(aliases, oldAliases)))
      return API_FAILED;
    DefaultMailboxName(record);
    if (!AddressesUsable(record)) return API_FAILED;
    const std::string mailbox = FieldText(record.data(), account::MailboxName);
    const std::string password = FieldText(record.data(), account::Password);
    if (kind0 &&
        (mailbox != FieldText(old.data(), account::MailboxName) ||
         password != FieldText(old.data(), account::Password)) &&
        core::IndexedCheckForMailbox(mailbox, password, oldAliases, domainIndex))
      return API_FAILED;
    if (kind0 && !DefaultMailboxPath(record, name)) return API_FAILED;
    if (kind0 && PolicyRejects(record)) return API_FAILED;
    if (!core::WriteAccountRecord(domainIndex, record, index)) return API_FAILED;
    core::NoteAccountChange(name, &old, &record);
    return API_OK;
  });
}

int32_t API_CALL AddUser(const char* domain, const void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (!RecordUsable(buffer, len, RecordSize)) return API_BAD_ARGUMENT;
    const int domainIndex = DomainIndexOf(domain);
    if (domainIndex < 0) return API_FAILED;
    const std::string name = core::DomainListGetName(domainIndex);
    std::lock_guard<std::mutex> changes(g_accountChanges);
    core::InstallationHold installation;
    if (!installation.held()) return API_FAILED;
    AccountRecordBytes record = CopyIn(buffer);
    const std::string aliases = FieldText(record.data(), account::AliasList);
    if (aliases.empty() || !core::IndexedCheckNewAlias(name, aliases)) return API_FAILED;
    DefaultMailboxName(record);
    if (!AddressesUsable(record)) return API_FAILED;
    // For every kind, on the ordinary account's positions.
    if (core::IndexedCheckForMailbox(FieldText(record.data(), account::MailboxName),
                                     FieldText(record.data(), account::Password), aliases, domainIndex))
      return API_FAILED;
    const bool kind0 = Kind0(record);
    if (kind0 && (!DefaultMailboxPath(record, name) || PolicyRejects(record))) return API_FAILED;
    if (!core::WriteAccountRecord(domainIndex, record, -1)) return API_FAILED;
    core::NoteAccountChange(name, nullptr, &record);
    // Only for an account that exists.
    if (kind0 && core::GetU8(record.data(), WritesDomainFile) != 0) core::WriteMailboxDomainFile(record, name);
    return API_OK;
  });
}

int32_t API_CALL DeleteUser(const char* domain, int32_t index) {
  return Guarded(Reading, [&]() -> std::int32_t {
    const int domainIndex = DomainIndexOf(domain);
    if (domainIndex < 0) return API_FAILED;
    const std::string name = core::DomainListGetName(domainIndex);
    std::lock_guard<std::mutex> changes(g_accountChanges);
    core::InstallationHold installation;
    if (!installation.held()) return API_FAILED;
    AccountRecordBytes removed{};
    if (index < 0 || index >= core::ReadAccountRecord(domainIndex, removed, index)) return API_FAILED;
    // The record first; its mail only once it is gone, and only the folder of
    // the record really removed.
    if (!core::DeleteAccountRecord(domainIndex, index, &removed)) return API_FAILED;
    core::NoteAccountChange(name, &removed, nullptr);
    const std::string path = FieldText(removed.data(), account::MailboxPath);
    if (Kind0(removed) && !path.empty()) {
      const std::string folder = core::GetMailboxPath(path, false, {});
      if (!FolderInUse(folder)) DeleteMailFolderInside(folder);
    }
    return API_OK;
  });
}

int32_t API_CALL SetUserDefaults(void* buffer, int32_t len, int32_t force) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (!RecordUsable(buffer, len, RecordSize)) return API_BAD_ARGUMENT;
    if (force == 0 && core::GetU8(core::Settings().data(), DefaultsSwitch) == 0) return API_OK;
    AccountRecordBytes record{};
    core::ApplyDefaultsIni(true, record.data(), false, "");
    std::memcpy(buffer, record.data(), record.size());
    return RecordSize;
  });
}

// ---- Logins and the policy --------------------------------------------------------

int32_t API_CALL AuthenticateUser(const char* user, const char* password, const char* ip, int32_t* domainIndex,
                                  void* buffer, int32_t len) {
  return GuardedThen(Reading, [&](Afterwards& after) -> std::int32_t {
    if (!RecordUsable(buffer, len, RecordSize) || domainIndex == nullptr) return API_BAD_ARGUMENT;
    core::LoginAttempt attempt;
    attempt.login = CallerText(user);
    attempt.password = CallerText(password);
    attempt.ip = CallerText(ip);
    attempt.noDelay = true;  // paused below, after the hold
    attempt.useCache = true;
    AccountRecordBytes record{};
    std::string domain;
    const bool accepted = core::AuthenticateAccount(attempt, record, domain);
    SecureZeroMemory(attempt.password.data(), attempt.password.size());
    if (!accepted) {
      after.pauseRefusal = true;
      return API_FAILED;
    }
    std::memcpy(buffer, record.data(), record.size());
    SecureZeroMemory(record.data(), record.size());
    *domainIndex = DomainIndexOf(domain);
    return RecordSize;
  });
}

std::int32_t api::MailboxFreeIn(const std::string& domain, const std::string& mailbox, const std::string& password,
                                const std::string& aliases) {
  return Guarded(Judging, [&]() -> std::int32_t {
    const int index = DomainIndexOf(domain);
    if (index < 0) return API_FAILED;
    return core::IndexedCheckForMailbox(core::CutTo(mailbox, CallerTextLength), core::CutTo(password, CallerTextLength),
                                        core::CutTo(aliases, CallerTextLength), index)
               ? 0
               : 1;
  });
}

int32_t API_CALL CheckPasswordPolicy(const char* password, const char* mailbox, const char* aliases) {
  return Guarded(Judging, [&]() -> std::int32_t {
    const std::uint8_t* settings = core::Settings().data();
    if (core::GetU8(settings, PasswordPolicy) == 0) return 1;
    return core::CheckPasswordRules(settings, CallerText(password), CallerText(mailbox), CallerText(aliases)) ? 1 : 0;
  });
}

int32_t API_CALL GetUserStat(const char* from, const char* to, const char* filter, const char* fileName) {
  return Guarded(Reading, [&]() -> std::int32_t {
    // The name is never cut: a shortened one would write another file.
    if (fileName == nullptr || std::strlen(fileName) > MAX_PATH - 1) return API_BAD_ARGUMENT;
    const bool written =
        core::WriteUserStatReport(CallerText(from), CallerText(to), CallerText(filter, FilterTextLength), fileName);
    return written ? API_OK : API_FAILED;
  });
}

// ---- Enumeration ------------------------------------------------------------------

int32_t API_CALL APIInitUsers(void** handle, const char* domain) {
  return Guarded(Enumerating, [&]() -> std::int32_t {
    if (handle == nullptr) return 0;
    auto enumeration = std::make_shared<Enumeration>();
    enumeration->block.reset(new std::uint8_t[core::AccountEnumerationSize]());
    std::uint8_t* block = enumeration->block.get();
    const int index = DomainIndexOf(domain);
    const std::string name = index >= 0 ? core::DomainListGetName(index) : CallerText(domain);
    if (!core::InitUsers(name, block, "", 0, 0)) {
      *handle = nullptr;
      return 0;
    }
    try {
      std::lock_guard<std::mutex> guard(g_enumerationsMutex);
      Enumerations()[block] = enumeration;
    } catch (...) {
      core::DoneUsers(block);
      throw;
    }
    *handle = block;
    return 1;
  });
}

int32_t API_CALL APINextUser(void* handle, void* buffer, int32_t len) {
  return Guarded(Enumerating, [&]() -> std::int32_t {
    const std::shared_ptr<Enumeration> enumeration = FindEnumeration(handle);
    if (enumeration == nullptr) return 0;
    std::lock_guard<std::mutex> busy(enumeration->busy);
    if (!enumeration->open || core::NextUser(enumeration->block.get()) != 0) return 0;
    // A short buffer gets nothing, but the record has been consumed.
    if (!RecordUsable(buffer, len, RecordSize)) return 0;
    std::memcpy(buffer, enumeration->block.get(), RecordSize);
    return 1;
  });
}

void API_CALL APIDoneUsers(void* handle) {
  Guarded(Reading, [&] {
    std::shared_ptr<Enumeration> enumeration;
    {
      std::lock_guard<std::mutex> guard(g_enumerationsMutex);
      const auto found = Enumerations().find(handle);
      if (found == Enumerations().end()) return;
      enumeration = std::move(found->second);
      Enumerations().erase(found);
    }
    Close(*enumeration);
    std::lock_guard<std::mutex> guard(g_enumerationsMutex);
    Retired().push_back(std::move(enumeration));
    if (Retired().size() > RetiredKept) Retired().pop_front();
  });
}
