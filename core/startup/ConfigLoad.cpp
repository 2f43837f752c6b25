#include "core/startup/ConfigLoad.h"

#include "core/accounts/AccountHooks.h"
#include "core/accounts/RecordCaches.h"
#include "core/antispam/AntiSpamSettings.h"
#include "core/antispam/RuleFilesWin.h"
#include "core/attachments/Attachments.h"
#include "core/attachments/ScanConfig.h"
#include "core/auth/Authenticate.h"
#include "core/config/ConfigStore.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainBindings.h"
#include "core/domains/DomainTable.h"
#include "core/ldap/LdapClient.h"
#include "core/ldap/LdapSync.h"
#include "core/lists/AccountLists.h"
#include "core/messages/AddressListFiles.h"
#include "core/messages/MailboxFiles.h"
#include "core/platform/InstallationLock.h"
#include "core/platform/System.h"
#include "core/startup/LibraryStart.h"
#include "core/texts/StringsFile.h"
#include "core/variables/SystemVariables.h"

namespace core {
namespace {

constexpr std::uint8_t DatabaseStorageMode = 2;

// Runs one step; a failing step leaves its own part at what it had and the
// sequence goes on.
template <typename Step>
void RunStep(Step step) noexcept {
  try {
    step();
  } catch (...) {
  }
}

// ---- Steps that are not simply one call of their subsystem ----------------

// Attachment-scanner settings ("scan.cfg"); the sending library runs the same reader.
void ReadScannerSettings() { LoadScanConfig(); }
// "default.ini" in the mode that fills no record: the domain-administrator rights.
void ReadDefaultTemplates() { ApplyDefaultsIni(false, nullptr, true, {}); }
// Replacement message texts ("strings.dat"); the sending library runs the same step.
void LoadMessageTexts() { LoadStringsFile(); }

void ConnectDatabaseIfAsked() {
  const SettingsRecord& record = Settings();
  const bool wanted = GetU8(record.data(), cfg::StorageMode) == DatabaseStorageMode ||
                      GetU8(record.data(), cfg::ConnectDatabase) != 0 || SpamChallengeOn();
  if (!wanted) return;
  SetDomainReloadPending(true);
  ConnectDatabase(RootFolder(), GetShortString(record.data(), cfg::DbConnection));
}

void SetAffinity() { SetProcessAffinity(GetU8(Settings().data(), cfg::FirstProcessorOnly) == 0); }

void SizeCaches() {
  const SettingsRecord& record = Settings();
  SizeRecordCaches(GetU8(record.data(), cfg::StorageMode), GetU32(record.data(), cfg::RecordCacheSizeMb));
}

}  // namespace

bool InitServerConfig(bool missingIsFailure, bool stopBeforeBackEnd) {
  try {
    if (RootFolder().empty()) SetRootFolder(ConfigFolder() + "..\\");

    const LibraryProfile& profile = ActiveLibraryProfile();
    bool result = !missingIsFailure;
    const SettingsFileRead read = ReadSettingsFile(profile.settingsLength);
    if (profile.foldersUnderRoot) RunStep(PlaceFoldersUnderRoot);
    switch (read) {
      case SettingsFileRead::Read:
        result = true;
        RunStep(DomainListLoad);
        RunStep(CompleteConfigLoad);
        RunStep(LoadGlobalBindings);
        break;
      case SettingsFileRead::Missing:
        RunStep(DomainListClear);  // no configuration: no domains either
        break;
      case SettingsFileRead::Unreadable:
        break;
    }

    RunStep(ReadAntiSpamSettings);
    RunStep(ForgetDomainBindingAnswer);
    RunStep(LoadMessageTexts);
    RunStep(NoteSubdomainList);
    if (stopBeforeBackEnd) return result;
    RunStep(ConnectDatabaseIfAsked);
    RunStep(SetAffinity);
    RunStep(SizeCaches);
    return result;
  } catch (...) {
    return false;
  }
}

bool SaveServerConfig() {
  try {
    // Both files under one hold: the count in the one matches the other.
    InstallationHold hold;
    if (!hold.held()) return false;
    const bool settingsWritten = WriteSettingsFile();
    if (settingsWritten) NoteSettingsFileWritten();
    const bool domainsWritten = ConfigFolderIsAbsolute() && !SettingsFileUnreadable() && DomainListSave();
    return settingsWritten || domainsWritten;
  } catch (...) {
    return false;
  }
}

namespace {

// A length-prefixed text of the settings record; the length byte caps it at
// 255, so it never runs past the record.
std::string RecordText(const SettingsRecord& record, std::size_t offset) {
  return std::string(reinterpret_cast<const char*>(record.data() + offset + 1), record[offset]);
}

void LoadRulesStep(const SpamRulesRequest& request) {
  const RuleVariant variant = ActiveLibraryProfile().rules;
  LoadSpamAssassinRules(variant, request.rulesFolder, true, request.skipCustom);
  const SettingsRecord& record = Settings();
  RulesUnit(variant).SetServerValues(RecordText(record, 0), RecordText(record, 1304), record[238]);
}

}  // namespace

void InstallUnitHooks() {
  SetSpamRulesStep(&LoadRulesStep);
  InstallListHooks();
  InstallMessageHooks();
  InstallVariableHooks();
  // "%%AttachmentNames%%" takes the message apart to name its attachments.
  SetAttachmentNamesSource(&GetAttachmentNames);
  SetSyncUserHook(&SyncUserToLDAP);
  SetLdapBindFunction(&LdapBindCheck);
  // "ldapbypass.dat" is an address list with the message files' rules.
  SetLdapBypassTest([](std::string_view address, const std::string& file) { return !AddressNotInList(address, file); });
}

void CompleteConfigLoad() {
  RunStep(DomainListMigrate);
  RunStep(ReadScannerSettings);
}

void LoadGlobalBindings() {
  RunStep(ReadGlobalBindFile);
  RunStep(ReadDefaultTemplates);
}

}  // namespace core
