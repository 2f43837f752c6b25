// Domain exports. Reads take the state lock shared; every change takes it
// exclusively (the domain table and the settings record change together),
// then the installation lock, reads the table again when another process
// changed it on disk, writes the configuration without notifying, and sends
// one round of 0x500 to the services after both are released.
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "api/ExportSupport.h"
#include "core/config/ConfigStore.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainBindings.h"
#include "core/domains/DomainRecords.h"
#include "core/domains/DomainTable.h"
#include "core/lists/AccountIndex.h"
#include "core/lists/AccountLists.h"
#include "core/platform/Files.h"
#include "core/platform/InstallationLock.h"
#include "core/util/NameText.h"
#include "core/util/PathText.h"
#include "core/util/Text.h"

using namespace api;

namespace {

constexpr core::FieldRef DefaultsSwitch = core::ConfigField("DefaultsOn");

// Held by every domain change from its first look at the table to the save.
class DomainChange {
 public:
  // False when the lock was not granted: the change writes nothing.
  bool Begin() {
    if (!installation_.held()) return false;
    if (core::DomainListReloadIfChanged()) core::ForgetAccountIndexes();
    // Folders may be renamed or emptied: every process reads its account
    // indexes again.
    core::NoteAccountFileChange(0, core::AccountFileChange::Reset);
    return true;
  }

 private:
  core::InstallationHold installation_;
};

bool BadIndex(std::int32_t index) { return index < 0 || static_cast<std::uint32_t>(index) >= core::CountDomains(); }

// A name a domain may take: at most 91 characters of letters, digits, "-",
// ".", "[", "]" (and codes from 127 up) that is also safe as a folder name.
bool AcceptableDomainName(const std::string& name) {
  return name.size() <= core::DomainNameMaxLength && core::IsValidDomainName(name) &&
         core::IsSafeFolderName(core::LowerCase(name));
}

// Undoes what AddDomain did so far, newest first.
struct AddSteps {
  std::string name, folder;
  int index = -1;
  bool folderExisted = false, recordExisted = false, inBackEnd = false, recordTried = false;

  void Undo() const {
    if (inBackEnd) core::DbDeleteDomain(name.c_str());
    if (recordTried && !recordExisted) ::DeleteFileA((folder + "domain.cfg").c_str());
    if (!folderExisted) ::RemoveDirectoryA(folder.substr(0, folder.size() - 1).c_str());
    if (index >= 0) core::UnlistDomain(index);
  }
};

}  // namespace

int32_t API_CALL GetDomainCount() {
  return Guarded(Reading, []() -> std::int32_t { return static_cast<std::int32_t>(core::CountDomains()); });
}

int32_t API_CALL GetDomainList(void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    std::string list;
    const int count = static_cast<int>(core::CountDomains());
    for (int i = 0; i < count; ++i)
      list += core::DomainListGetName(i) + '\0';
    list += '\0';
    return PutText(list, buffer, len);
  });
}

int32_t API_CALL GetDomainName(int32_t index, void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (BadIndex(index)) return API_BAD_ARGUMENT;
    return PutText(core::DomainListGetName(index), buffer, len);
  });
}

int32_t API_CALL GetDomainIndex(const char* name) {
  return Guarded(Reading, [&]() -> std::int32_t { return DomainIndexOf(name); });
}

int32_t API_CALL LoadDomain(int32_t index, void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (!RecordUsable(buffer, len, API_DOMAIN_RECORD_SIZE) || BadIndex(index)) return API_BAD_ARGUMENT;
    core::DomainRecordBytes record{};
    if (!core::ReadDomainRecord(record, index)) return API_FAILED;
    std::memcpy(buffer, record.data(), record.size());
    return static_cast<std::int32_t>(API_DOMAIN_RECORD_SIZE);
  });
}

int32_t API_CALL SaveDomain(int32_t index, const void* buffer, int32_t len) {
  return GuardedThen(Changing, [&](Afterwards& after) -> std::int32_t {
    DomainChange change;
    if (!change.Begin()) return API_FAILED;
    if (!RecordUsable(buffer, len, API_DOMAIN_RECORD_SIZE) || BadIndex(index)) return API_BAD_ARGUMENT;
    core::DomainRecordBytes record{};
    std::memcpy(record.data(), buffer, record.size());
    if (!core::WriteDomainRecord(record, index)) return API_FAILED;
    after.notifyServices = true;
    return API_OK;
  });
}

int32_t API_CALL AddDomain(const char* name, const void* buffer, int32_t len) {
  return GuardedThen(Changing, [&](Afterwards& after) -> std::int32_t {
    if (!RecordUsable(buffer, len, API_DOMAIN_RECORD_SIZE)) return API_BAD_ARGUMENT;
    DomainChange change;
    if (!change.Begin()) return API_FAILED;
    const std::string given = CallerText(name);
    // Every check before the first change.
    if (!AcceptableDomainName(given) || core::DomainListExists(given)) return API_FAILED;
    core::DomainRecordBytes record{};
    std::memcpy(record.data(), buffer, record.size());

    AddSteps steps;
    steps.name = core::LowerCase(given);
    if (!core::DomainFolder(steps.name, steps.folder)) return API_FAILED;
    steps.folderExisted = core::DirectoryExists(steps.folder);
    steps.recordExisted = core::FileExists(steps.folder + "domain.cfg");
    core::DomainListAdd(steps.name);
    steps.index = static_cast<int>(core::DomainCount()) - 1;
    if (core::DomainListGetName(steps.index) != steps.name) {
      steps.Undo();
      return API_FAILED;
    }
    const bool database = DatabaseStorage();
    if (!core::AddDomainRecord(steps.name)) {
      steps.Undo();
      return API_FAILED;
    }
    steps.inBackEnd = database;
    steps.recordTried = true;
    if (!core::WriteDomainRecord(record, steps.index) || !WriteConfigSession()) {
      steps.Undo();
      return API_FAILED;
    }
    after.notifyServices = true;
    return API_OK;
  });
}

int32_t API_CALL RenameDomain(const char* oldName, const char* newName) {
  return GuardedThen(Changing, [&](Afterwards& after) -> std::int32_t {
    if (oldName == nullptr || newName == nullptr || oldName == newName) return API_BAD_ARGUMENT;
    const std::string wantedText = CallerText(newName);
    if (!AcceptableDomainName(wantedText)) return API_FAILED;
    DomainChange change;
    if (!change.Begin()) return API_FAILED;
    const int index = DomainIndexOf(oldName);
    if (index < 0) return API_FAILED;
    const std::string current = core::DomainListGetName(index);
    const std::string wanted = core::LowerCase(wantedText);
    if (current == wanted) return API_OK;
    // Two entries of one name would make the second unreachable.
    const int other = DomainIndexOf(wanted);
    if (other >= 0 && other != index) return API_FAILED;
    const std::string binding = core::ReadDomainBind(index);
    if (!core::RenameDomainRecord(current, wanted)) return API_FAILED;
    core::ForgetAccountIndexes();
    core::WriteDomainBind(index, binding, false);
    if (!WriteConfigSession()) {
      // The table on disk still names the old folder: go back to it.
      core::RenameDomainRecord(wanted, current);
      core::WriteDomainBind(index, binding, false);
      return API_FAILED;
    }
    after.notifyServices = true;
    return API_OK;
  });
}

int32_t API_CALL DeleteDomain(int32_t index) {
  return GuardedThen(Changing, [&](Afterwards& after) -> std::int32_t {
    DomainChange change;
    if (!change.Begin()) return API_FAILED;
    if (BadIndex(index)) return API_BAD_ARGUMENT;
    const std::string name = core::DomainListGetName(index);
    if (!core::IsSafeFolderName(name)) return API_FAILED;
    // The records first; the mail only once they are gone.
    if (!core::DeleteDomainRecord(index)) return API_FAILED;
    core::UnlistDomain(index);
    core::ForgetAccountIndexes();
    WriteConfigSession();
    // Only when no account of a served domain keeps its mail in there (a
    // domain renamed away keeps its mail under the old folder name).
    const std::string mail = core::GetShortString(core::Settings().data(), core::cfg::MailFolder);
    const std::string folder = mail + name + "\\";
    if (!mail.empty() && !MailFolderInUse(folder, FolderUse::Inside)) DeleteMailFolderInside(folder);
    after.notifyServices = true;
    return API_OK;
  });
}

int32_t API_CALL SetDomainDefaults(void* buffer, int32_t len, int32_t force) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (!RecordUsable(buffer, len, API_DOMAIN_RECORD_SIZE)) return API_BAD_ARGUMENT;
    if (force == 0 && core::GetU8(core::Settings().data(), DefaultsSwitch) == 0) return API_OK;
    core::DomainRecordBytes record{};
    core::ApplyDefaultsIni(false, record.data(), false, "");
    std::memcpy(buffer, record.data(), record.size());
    return static_cast<std::int32_t>(API_DOMAIN_RECORD_SIZE);
  });
}

int32_t API_CALL GetDomainIP(int32_t index, void* buffer, int32_t len) {
  return Guarded(Reading, [&]() -> std::int32_t {
    if (BadIndex(index)) return API_BAD_ARGUMENT;
    return PutText(core::ReadDomainBind(index), buffer, len);
  });
}

std::int32_t api::WriteDomainBinding(std::int32_t index, std::string text) {
  return Guarded(Changing, [&]() -> std::int32_t {
    DomainChange change;
    if (!change.Begin()) return API_FAILED;
    if (BadIndex(index)) return API_BAD_ARGUMENT;
    text = core::CutTo(text, CallerTextLength);
    for (char& c : text)
      c = c == '\r' || c == '\n' || c == '\0' ? ' ' : c;
    return core::WriteDomainBind(index, text, false) ? API_OK : API_FAILED;
  });
}

int32_t API_CALL SetDomainIP(int32_t index, const char* value, int32_t valueLen) {
  return GuardedThen(Changing, [&](Afterwards& after) -> std::int32_t {
    DomainChange change;
    if (!change.Begin()) return API_FAILED;
    if (BadIndex(index) || valueLen < 0 || (value == nullptr && valueLen > 0)) return API_BAD_ARGUMENT;
    std::string text = CallerText(value, std::min(static_cast<std::size_t>(valueLen), CallerTextLength));
    // "bind.dat" is one line: a line break would start a second binding.
    for (char& c : text)
      c = c == '\r' || c == '\n' ? ' ' : c;
    if (!core::WriteDomainBind(index, text, false)) return API_FAILED;
    WriteConfigSession();
    after.notifyServices = true;
    return API_OK;
  });
}
