#include "core/config/ConfigStore.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "core/accounts/RecordCaches.h"
#include "core/config/ConfigFiles.h"
#include "core/config/LockTable.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainTable.h"
#include "core/platform/FileUnit.h"
#include "core/platform/SystemUnit.h"
#include "core/util/NetText.h"
#include "core/util/Numbers.h"
#include "core/util/PathText.h"
#include "core/util/RecordScrambling.h"
#include "core/util/StringUnit.h"
#include "core/util/StructureUnit.h"

namespace core {
namespace {

constexpr std::size_t FolderLength = 255;
constexpr std::size_t ListLength = 127;
constexpr std::uint8_t DatabaseStorageMode = 2;

struct StoreState {
  std::mutex mutex;
  std::string root;
  std::string config;
  std::string antiSpam;
  std::string messagePrefix;
  std::string outgoingBind;
  std::string ipv6Bind;
  // Items of the last "path.cfg" that the load applies.
  std::string pathPrefix;     // line 4
  std::string pathAntiSpam;   // line 6, normalised
  std::string pathSetting39;  // line 10, first part
  std::string pathBind;       // line 10, second part
  std::string pathHostName;   // line 11
};

StoreState& State() {
  static StoreState state;
  return state;
}

std::string Read(std::string StoreState::*member) {
  StoreState& state = State();
  std::lock_guard<std::mutex> guard(state.mutex);
  return state.*member;
}

void Write(std::string StoreState::*member, std::string value) {
  StoreState& state = State();
  std::lock_guard<std::mutex> guard(state.mutex);
  state.*member = std::move(value);
}

std::atomic<bool> g_subdomainList{false};
std::atomic<bool> g_settingsUnreadable{false};
std::atomic<bool> g_spamChallenge{false};
// Remembered answer of UsesDomainBinding: -1 not worked out yet.
std::atomic<int> g_usesBinding{-1};

template <typename Step>
void RunStep(Step step) noexcept {
  try {
    step();
  } catch (...) {
    // A failing step leaves its own part at what it had; the load goes on.
  }
}

bool DatabaseNoLockSet() { return GetU8(Settings().data(), cfg::DbNoLock) != 0; }

// Stores a text field only when it changes, so the bytes behind a short text
// stay as the file had them; a length byte beyond the field's width is
// repaired, so no reader of the raw record runs into the next field.
void PutText(SettingsRecord& record, FieldRef field, std::string_view text) {
  if (record[field.offset] > field.width || GetShortStringView(record.data(), field) != CutTo(text, field.width))
    SetShortString(record.data(), field, text);
}

std::string GetText(const SettingsRecord& record, FieldRef field) { return GetShortString(record.data(), field); }

// True for texts such as 10.1.*.*, 192.168.1.10-30 or 10.0.0.0/8: longer than
// five characters, starting and ending with "*" or a digit, made of digits,
// "*", "-", "." and "/" only.
bool IsIPPattern(std::string_view text) {
  if (text.size() <= 5) return false;
  auto edge = [](char c) { return c == '*' || (c >= '0' && c <= '9'); };
  if (!edge(text.front()) || !edge(text.back())) return false;
  for (char c : text) {
    if (!(edge(c) || c == '-' || c == '.' || c == '/')) return false;
  }
  return true;
}

std::string CleanLine(std::string_view line) { return Trim(StripComments(line)); }

// The non-empty items of a ";"-list, each trimmed.
std::vector<std::string> ListItems(std::string_view list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string item = Trim(list.substr(start, end - start));
    if (!item.empty()) items.push_back(std::move(item));
    start = end + 1;
  }
  return items;
}

// ---- Steps of the load that follow the settings record ------------------

// Steps 4 to 10 on the freshly read copy, before it is published.
void NormalizeLoadedSettings(SettingsRecord& record) {
  // Empty folders default under the installation folder.
  const std::string root = RootFolder();
  struct FolderField {
    FieldRef field;
    const char* name;
  };
  const FolderField folders[] = {{cfg::TempFolder, "temp\\"},
                                 {cfg::MailFolder, "mail\\"},
                                 {cfg::LogsFolder, "logs\\"},
                                 {cfg::ArchiveFolder, "archive\\"}};
  for (const FolderField& f : folders) {
    std::string folder = GetText(record, f.field);
    if (folder.empty()) folder = root + f.name;
    PutText(record, f.field, CutTo(NormalizePath(folder, true, false), f.field.width));
  }

  const std::string prefixPart = CutTo(Trim(GetText(record, cfg::MessagePrefixPart)), 2);
  PutText(record, cfg::MessagePrefixPart, prefixPart);
  Write(&StoreState::messagePrefix, CutTo(Trim(Read(&StoreState::pathPrefix)) + prefixPart, FolderLength));

  std::uint8_t* bytes = record.data();
  if (GetU32(bytes, cfg::Setting101) > 1000) SetU32(bytes, cfg::Setting101, 0);
  if (GetU32(bytes, cfg::Setting102) > 1000) SetU32(bytes, cfg::Setting102, 0);
  if (GetU32(bytes, cfg::Setting103) > 5242880) SetU32(bytes, cfg::Setting103, 0);

  ApplyLoadDefaults(bytes);

  if (GetU8(bytes, cfg::Setting61) != 0 && GetU8(bytes, cfg::Setting50) != 0) SetU8(bytes, cfg::Setting50, 0);

  for (FieldRef list : {cfg::HostName, cfg::Setting2, cfg::Setting1, cfg::Setting39, cfg::Setting124}) {
    PutText(record, list, CutTo(NormalizeListSeparators(GetText(record, list)), ListLength));
  }
  for (FieldRef list : {cfg::Setting90, cfg::Setting132}) {
    PutText(record, list, CutTo(NormalizeListSeparators(GetText(record, list)), FolderLength));
  }
  // Blanks and "," belong to connection strings: trimmed only.
  PutText(record, cfg::DbConnection, CutTo(Trim(GetText(record, cfg::DbConnection)), FolderLength));

  const std::string setting39 = Read(&StoreState::pathSetting39);
  if (!setting39.empty()) PutText(record, cfg::Setting39, CutTo(setting39, ListLength));
  const std::string hostName = Read(&StoreState::pathHostName);
  if (!hostName.empty()) PutText(record, cfg::HostName, CutTo(hostName, ListLength));
}

void LoadDomainTable() { DomainListLoad(); }

// Older domain table layouts are converted by the domain unit.
void ConvertOlderDomainTable() {}

// Attachment-scanner settings ("scan.cfg"): defaults until that unit reads them.
void ReadScannerSettings() {}

// Default account templates (mode that fills no record).
void ReadDefaultTemplates() {}

// The anti-spam settings reader: derives the anti-spam folder and reads the
// one key of "spam.dat" the load itself needs, the challenge-response switch
// that asks for the database back end. A missing file or key keeps the
// current value, as every anti-spam setting does between reads.
void ReadAntiSpamSettings() {
  std::string folder = Read(&StoreState::pathAntiSpam);
  if (folder.empty()) folder = CutTo(RootFolder() + "Spam\\", FolderLength);
  Write(&StoreState::antiSpam, folder);

  std::vector<std::string> lines;
  if (!ReadTextLines(folder + "spam.dat", lines)) return;
  constexpr std::string_view key = "SpamChallenge=";
  for (const std::string& raw : lines) {
    if (raw.find('=') == std::string::npos) continue;
    const std::string line = TrimAroundSeparator(raw, '=');
    if (line.size() < key.size() || !SameText(std::string_view(line).substr(0, key.size()), key)) continue;
    const std::string value = line.substr(line.find('=') + 1);
    if (!value.empty()) g_spamChallenge.store(TextToInt(value) == 1);
  }
}

// Replacement message texts ("strings.dat"): built-in texts until that unit reads them.
void LoadMessageTexts() {}

void NoteSubdomainList() { g_subdomainList.store(FileExists(ConfigFolder() + "subdomains.dat")); }

void ConnectDatabaseIfAsked() {
  const SettingsRecord& record = Settings();
  const bool wanted = GetU8(record.data(), cfg::StorageMode) == DatabaseStorageMode ||
                      GetU8(record.data(), cfg::ConnectDatabase) != 0 || g_spamChallenge.load();
  if (!wanted) return;
  SetDomainReloadPending(true);
  ConnectDatabase(RootFolder(), GetText(record, cfg::DbConnection));
}

void SetAffinity() { SetProcessAffinity(GetU8(Settings().data(), cfg::FirstProcessorOnly) == 0); }

void SizeCaches() {
  const SettingsRecord& record = Settings();
  SizeRecordCaches(GetU8(record.data(), cfg::StorageMode), GetU32(record.data(), cfg::RecordCacheSizeMb));
}

}  // namespace

// ---- Process-wide state ---------------------------------------------------

SettingsRecord& Settings() {
  static SettingsRecord record = BuiltInSettingsImage();
  return record;
}

std::string RootFolder() { return Read(&StoreState::root); }
void SetRootFolder(std::string_view folder) { Write(&StoreState::root, CutTo(folder, FolderLength)); }
std::string ConfigFolder() { return Read(&StoreState::config); }
void SetConfigFolder(std::string_view folder) { Write(&StoreState::config, CutTo(folder, FolderLength)); }
std::string AntiSpamFolder() { return Read(&StoreState::antiSpam); }
std::string MessageFilePrefix() { return Read(&StoreState::messagePrefix); }
std::string OutgoingBindAddress() { return Read(&StoreState::outgoingBind); }
std::string IPv6BindList() { return Read(&StoreState::ipv6Bind); }
bool SubdomainListExists() { return g_subdomainList.load(); }
bool SettingsFileUnreadable() { return g_settingsUnreadable.load(); }
bool SpamChallengeOn() { return g_spamChallenge.load(); }

// ---- Load and save ----------------------------------------------------------

void ReadPathConfig(const std::string& rootFolder) {
  try {
    // The items belong to this installation's file; another root's file
    // must not leave its overrides behind.
    {
      StoreState& state = State();
      std::lock_guard<std::mutex> guard(state.mutex);
      state.pathPrefix.clear();
      state.pathAntiSpam.clear();
      state.pathSetting39.clear();
      state.pathHostName.clear();
      state.pathBind.clear();
      state.outgoingBind.clear();
    }
    const std::string root = rootFolder.empty() ? std::string() : NormalizePath(rootFolder, true, false);
    std::vector<std::string> lines;
    if (!ReadTextLines(root + "path.cfg", lines)) return;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::string line = CleanLine(lines[i]);
      if (line.empty()) continue;
      switch (i + 1) {
        case 1:
          SetConfigFolder(NormalizePath(line, true, false));
          break;
        case 4:
          Write(&StoreState::pathPrefix, line);
          break;
        case 6:
          Write(&StoreState::pathAntiSpam, CutTo(NormalizePath(line, true, false), FolderLength));
          break;
        case 10:
          Write(&StoreState::pathSetting39, CutTo(GetDelimitedItem(line, 0, '|'), ListLength));
          Write(&StoreState::pathBind, CutTo(GetDelimitedItem(line, 1, '|'), FolderLength));
          Write(&StoreState::outgoingBind, Read(&StoreState::pathBind));
          break;
        case 11:
          Write(&StoreState::pathHostName, CutTo(line, ListLength));
          break;
        default:
          break;
      }
    }
  } catch (...) {
    // Whatever was read so far stays.
  }
}

bool InitServerConfig(bool missingIsFailure, bool stopBeforeBackEnd) {
  try {
    SetDatabaseNoLockQuery(&DatabaseNoLockSet);
    if (RootFolder().empty()) SetRootFolder(ConfigFolder() + "..\\");

    bool result = false;
    std::string bytes;
    const FileReadResult read = ReadFileBytes(ConfigFolder() + "settings.cfg", 0, SettingsRecordSize, bytes);
    if (read == FileReadResult::Read) {
      // The file is read over a scrambled copy of the current record, so a
      // shorter file keeps the rest of the previous values.
      // (On the heap: callers' threads may have small stacks.)
      auto copy = std::make_unique<SettingsRecord>(Settings());
      ScrambleBuffer(copy->data(), static_cast<std::ptrdiff_t>(copy->size()), 0);
      std::memcpy(copy->data(), bytes.data(), bytes.size());
      ScrambleBuffer(copy->data(), static_cast<std::ptrdiff_t>(copy->size()), 0);
      NormalizeLoadedSettings(*copy);
      Settings() = *copy;
      g_settingsUnreadable.store(false);
      result = true;

      RunStep(LoadDomainTable);
      RunStep(CompleteConfigLoad);
      RunStep(LoadGlobalBindings);
    } else {
      result = !missingIsFailure;
      if (read == FileReadResult::Missing) {
        // No configuration yet: the built-in defaults, no domains.
        g_settingsUnreadable.store(false);
        Settings() = BuiltInSettingsImage();
        RunStep(DomainListClear);
      } else {
        // The file is there but locked or damaged: keep what is in memory
        // and never overwrite the file with it.
        g_settingsUnreadable.store(true);
      }
    }

    RunStep(ReadAntiSpamSettings);
    g_usesBinding.store(-1);
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
    if (g_settingsUnreadable.load()) return false;
    const std::string folder = ConfigFolder();
    if (!folder.empty()) ForceDirectory(folder);
    auto copy = std::make_unique<SettingsRecord>(Settings());
    ScrambleBuffer(copy->data(), static_cast<std::ptrdiff_t>(copy->size()), 0);
    const bool settingsWritten = WriteFileAtomic(folder + "settings.cfg", copy->data(), copy->size());
    const bool domainsWritten = DomainListSave();
    return settingsWritten || domainsWritten;
  } catch (...) {
    return false;
  }
}

void CompleteConfigLoad() {
  RunStep(ConvertOlderDomainTable);
  RunStep(ReadScannerSettings);
}

void LoadGlobalBindings() {
  RunStep([] {
    // "bind.dat" refines what the path overrides said; nothing is kept
    // from the file of an earlier load.
    Write(&StoreState::outgoingBind, Read(&StoreState::pathBind));
    Write(&StoreState::ipv6Bind, {});
    std::vector<std::string> lines;
    if (!ReadTextLines(ConfigFolder() + "bind.dat", lines)) return;
    for (const std::string& raw : lines) {
      std::string line;
      for (char c : CleanLine(raw)) {
        if (c != ' ' && c != '\t') line += c;
      }
      const std::size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      const std::string value = line.substr(equals + 1);
      if (LowerCase(line).rfind("outgoing_bind=", 0) == 0) {
        Write(&StoreState::outgoingBind, CutTo(GetDelimitedItem(value, 0, ';'), FolderLength));
      } else if (line.rfind("IPv6_Bind=", 0) == 0) {
        Write(&StoreState::ipv6Bind, value);
      }
    }
  });
  RunStep(ReadDefaultTemplates);
}

// ---- Per-domain bindings ------------------------------------------------------

void WriteDomainBind(int index, std::string_view text, bool keepFile) {
  try {
    const std::string name = DomainListGetName(index);
    // Without a name the path would be the global "bind.dat".
    if (name.empty()) return;
    const std::string file = ConfigFolder() + name + "\\bind.dat";
    const std::string binding = Trim(text);
    std::string value;
    if (!binding.empty()) {
      value = std::string(DomainBindMarker);
      if (!keepFile) {
        const std::string content = binding + "\r\n";
        WriteFileAtomic(file, content.data(), content.size());
      }
    } else {
      ::DeleteFileA(file.c_str());
    }
    if (GetU8(Settings().data(), cfg::StorageMode) != DatabaseStorageMode) {
      DomainListSetIP(index, value);
    } else if (IsDBLoaded()) {
      DbSetDomainIP(name.c_str(), value.c_str());
      DomainListSetIP(index, value);
    }
  } catch (...) {
  }
}

std::string ReadDomainBind(int index) {
  try {
    std::string value = DomainListGetIP(index);
    if (value.empty()) return {};
    if (value == DomainBindMarker) value.clear();
    std::string line;
    const std::string name = DomainListGetName(index);
    // An entry without a name has no folder; its path would name the global "bind.dat".
    const std::string file = ConfigFolder() + name + "\\bind.dat";
    std::vector<std::string> lines;
    if (!name.empty() && ReadTextLines(file, lines) && !lines.empty()) line = Trim(lines.front());
    std::string result = line.empty() ? value : value.empty() ? line : line + ";" + value;
    if (!result.empty() && result.front() == ';') result.erase(0, 1);
    return CutTo(result, FolderLength);
  } catch (...) {
    return {};
  }
}

bool UsesDomainBinding() {
  int known = g_usesBinding.load();
  if (known < 0) {
    known = ReadDomainBind(0).empty() ? 0 : 1;
    g_usesBinding.store(known);
  }
  return known == 1;
}

// ---- Address-list checks ---------------------------------------------------------

int CheckDomainShield(std::string_view domain, std::string_view ip) {
  try {
    std::vector<std::string> lines;
    if (!ReadTextLines(ConfigFolder() + "domainshield.dat", lines)) return 1;
    for (const std::string& raw : lines) {
      const std::string line = CleanLine(raw);
      if (line.empty()) continue;
      if (!SameText(GetDelimitedItem(line, 0, '='), domain)) continue;
      const std::size_t equals = line.find('=');
      const std::string items = equals == std::string::npos ? std::string() : line.substr(equals + 1);
      for (std::string& mask : ListItems(items)) {
        std::string subject(ip);
        ApplyIPMask(subject, FolderLength, mask);
        if (subject == mask) return 1;
      }
      return 0;
    }
    return 1;
  } catch (...) {
    return 1;
  }
}

int IPInList(std::string_view list, std::string_view ip) {
  try {
    for (std::string& item : ListItems(list)) {
      if (IsIPPattern(item)) {
        std::string subject(ip);
        ApplyIPMask(subject, FolderLength, item);
        if (subject == item) return 1;
        continue;
      }
      const std::size_t at = item.find('@');
      if (at != std::string::npos) item = Trim(std::string_view(item).substr(at + 1));
      if (!item.empty() && GetU8(Settings().data(), cfg::DomainShield) != 0 && DomainListExists(item) &&
          CheckDomainShield(item, ip) == 1) {
        return 1;
      }
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

int CheckRelayIP(std::string_view ip, std::string_view list, bool useRelayFile, std::string_view relayFile) {
  try {
    const int result = IPInList(list, ip);
    if (!useRelayFile || result != 0) return result;
    const std::string file = relayFile.empty() ? ConfigFolder() + "relay.dat" : std::string(relayFile);
    std::vector<std::string> lines;
    if (!ReadTextLines(file, lines)) return result;
    for (const std::string& raw : lines) {
      const std::string line = CleanLine(raw);
      if (!line.empty() && IPInList(line, ip) == 1) return 1;
    }
    return result;
  } catch (...) {
    return 0;
  }
}

}  // namespace core
