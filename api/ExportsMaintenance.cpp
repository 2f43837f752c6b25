// Maintenance exports: one account's anti-spam index, the backup and the
// restore of the configuration folder, and the conversion of a mailbox
// between its two message-file forms.
#include <cstring>
#include <string>
#include <vector>

#include "api/ExportSupport.h"
#include "core/accounts/AccountStore.h"
#include "core/antispam/SpamIndex.h"
#include "core/archive/FolderArchive.h"
#include "core/config/ConfigStore.h"
#include "core/lists/AccountIndex.h"
#include "core/lists/AccountLists.h"
#include "core/messages/MailboxFiles.h"
#include "core/platform/InstallationLock.h"
#include "core/util/Text.h"
#include "include/Api.h"

using namespace api;
using core::AccountRecordBytes;
using core::FieldText;

namespace {

namespace account = core::account;
// Byte 764: the account takes part in anti-spam indexing.
constexpr core::FieldRef IndexingOn = core::RefOf(core::AccountField("Flag63"));
// Byte 665: the account keeps its messages in ".imap" form under "inbox\".
constexpr core::FieldRef MailboxType = core::RefOf(core::AccountField("MailboxType"));

// The conversion works before Init too and answers false on any failure.
constexpr ExportRules Converting{.needsInit = false, .onException = 0};

// A caller's file or folder name: at most 255 characters, read no further
// than the byte after them. A longer name is refused rather than cut, since
// the cut name would be another file.
bool WholeName(const char* text, std::string& name) {
  if (text == nullptr) return false;
  const std::size_t length = ::strnlen(text, CallerTextLength + 1);
  if (length > CallerTextLength) return false;
  name.assign(text, length);
  return true;
}

// Finds the account of the address through the core (the lookup exports
// would take the state hold a second time) and indexes its inbox as genuine
// and its "~Spam\" folder as spam. False when there is no such account or it
// is not indexed; what the indexing meets is not the caller's concern.
bool IndexAccount(const std::string& address) {
  std::string alias, domain;
  core::SplitEmailAddress(address, alias, domain);
  const int domainIndex = DomainIndexOf(domain);
  if (domainIndex < 0 || alias.empty()) return false;
  const std::int32_t index = core::FindAccountIndex(domainIndex, alias);
  if (index < 0) return false;
  AccountRecordBytes record{};
  if (core::ReadAccountRecord(domainIndex, record, index) <= index ||
      FieldText(record.data(), account::AliasList).empty())
    return false;
  if (core::GetU8(record.data(), IndexingOn) == 0) return false;
  const std::string mailbox = core::GetMailboxPath(FieldText(record.data(), account::MailboxPath), false, {});
  const bool imap = core::GetU8(record.data(), MailboxType) != 0;
  try {
    core::IndexSpamFolder(mailbox + (imap ? "inbox\\" : ""), false);
    core::IndexSpamFolder(mailbox + "~Spam\\", true);
  } catch (...) {
    // The account passed its checks: the answer stays 0.
  }
  return true;
}

// A restore that wrote either file leaves nothing for Done to save: the
// settings and domain table in memory are older than the files now.
bool WroteSessionFile(const std::vector<std::string>& written) {
  for (const std::string& name : written) {
    const std::string lower = core::LowerCase(name);
    if (lower == "settings.cfg" || lower == "domains.cfg") return true;
  }
  return false;
}

}  // namespace

int32_t API_CALL SpamIndexNow(const char* email) {
  return GuardedThen(Reading, [&](Afterwards& after) -> std::int32_t {
    // Null asks the service alone; an empty address is no account.
    if (email != nullptr && !IndexAccount(CallerText(email))) return API_FAILED;
    after.spamIndexNotice = true;
    return API_OK;
  });
}

int32_t API_CALL BackupConfig(const char* file) {
  return Guarded(Reading, [&]() -> std::int32_t {
    std::string archive;
    if (!WholeName(file, archive)) return API_FAILED;
    // Files that writers replace whole are read without the installation lock.
    return core::BackupConfigFolder(archive, core::ConfigFolder(), core::RootFolder()) ? API_OK : API_FAILED;
  });
}

int32_t API_CALL RestoreConfig(const char* file) {
  return Guarded(Changing, [&]() -> std::int32_t {
    std::string archive;
    if (!WholeName(file, archive)) return API_FAILED;
    // It rewrites what a save in another process writes.
    core::InstallationHold installation;
    if (!installation.held()) return API_FAILED;
    std::vector<std::string> written;
    const bool restored = core::RestoreConfigFolder(archive, core::ConfigFolder(), &written);
    if (WroteSessionFile(written)) ClearChanged();
    if (!written.empty()) {
      // Account files may have been replaced: every process reads them anew.
      core::NoteAccountFileChange(0, core::AccountFileChange::Reset);
      core::ForgetAccountIndexes();
    }
    return restored ? API_OK : API_FAILED;
  });
}

int32_t API_CALL MailboxConvertMessages(const char* path, int32_t fromImap) {
  return Guarded(Converting, [&]() -> std::int32_t {
    std::string folder;
    if (!WholeName(path, folder)) return 0;
    return core::ConvertMailboxMessages(folder, (fromImap & 0xFF) != 0) ? 1 : 0;
  });
}
