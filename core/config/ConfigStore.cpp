#include "core/config/ConfigStore.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "core/config/ConfigFiles.h"
#include "core/platform/Files.h"
#include "core/platform/InstallationLock.h"
#include "core/util/NameText.h"
#include "core/util/PathText.h"
#include "core/util/RecordScrambling.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t FolderLength = 255;
constexpr std::size_t ListLength = 127;

struct StoreState {
  std::mutex mutex;
  std::string root;
  std::string config;
  std::string messagePrefix;
  std::string outgoingBind;
  std::string ipv6Bind;
  // Items of the last "path.cfg" that the load applies.
  std::string pathPrefix;      // line 4
  std::string pathAntiSpam;    // line 6, normalised
  std::string pathServerList;  // line 10, first part
  std::string pathBind;        // line 10, second part
  std::string pathHostName;    // line 11
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

std::atomic<bool> g_settingsUnreadable{false};

// The record as "settings.cfg" held it when this process last read or wrote
// it: a save writes only the bytes this process changed since then onto the
// file as it is now, so that another process's changes stay.
SettingsRecord& Baseline() {
  static SettingsRecord record = BuiltInSettingsImage();
  return record;
}

// Stores a text field only when it changes, so the bytes behind a short text
// stay as the file had them; a length byte beyond the field's width is
// repaired, so no reader of the raw record runs into the next field.
void PutText(SettingsRecord& record, FieldRef field, std::string_view text) {
  if (record[field.offset] > field.width || GetShortStringView(record.data(), field) != CutTo(text, field.width))
    SetShortString(record.data(), field, text);
}

std::string GetText(const SettingsRecord& record, FieldRef field) { return GetShortString(record.data(), field); }

std::string CleanLine(std::string_view line) { return Trim(StripComments(line)); }

struct FolderField {
  FieldRef field;
  const char* name;
};
constexpr FolderField RecordFolders[] = {{cfg::TempFolder, "temp\\"},
                                         {cfg::MailFolder, "mail\\"},
                                         {cfg::LogsFolder, "logs\\"},
                                         {cfg::ArchiveFolder, "archive\\"}};

// One folder of the record, normalised: an empty one becomes its default
// under root; with relativeToo a relative one moves under root too, and one
// with a drive or a leading separator is left exactly as it is.
void PlaceFolder(SettingsRecord& record, const FolderField& f, const std::string& root, bool relativeToo) {
  std::string folder = GetText(record, f.field);
  if (folder.empty()) {
    folder = root + f.name;
  } else if (relativeToo) {
    if (folder.find(':') != std::string::npos || folder[0] == '\\' || folder[0] == '/') return;
    folder = root + folder;
  }
  PutText(record, f.field, CutTo(NormalizePath(folder, true, false), f.field.width));
}

// The load's rules on a freshly read copy, before it is published.
void NormalizeLoadedSettings(SettingsRecord& record) {
  const std::string root = RootFolder();
  for (const FolderField& f : RecordFolders)
    PlaceFolder(record, f, root, false);

  const std::string prefixPart = CutTo(Trim(GetText(record, cfg::MessagePrefixPart)), 2);
  PutText(record, cfg::MessagePrefixPart, prefixPart);
  Write(&StoreState::messagePrefix, CutTo(Trim(Read(&StoreState::pathPrefix)) + prefixPart, FolderLength));

  std::uint8_t* bytes = record.data();
  ApplyLoadRules(bytes);

  if (GetU8(bytes, cfg::Flag61) != 0 && GetU8(bytes, cfg::Flag50) != 0) SetU8(bytes, cfg::Flag50, 0);

  for (FieldRef list : {cfg::HostName, cfg::List2, cfg::List1, cfg::LdapServerList, cfg::List124}) {
    PutText(record, list, CutTo(NormalizeListSeparators(GetText(record, list)), ListLength));
  }
  for (FieldRef list : {cfg::List90, cfg::LocalNetworks}) {
    PutText(record, list, CutTo(NormalizeListSeparators(GetText(record, list)), FolderLength));
  }
  // Blanks and "," belong to connection strings: trimmed only.
  PutText(record, cfg::DbConnection, CutTo(Trim(GetText(record, cfg::DbConnection)), FolderLength));

  const std::string serverList = Read(&StoreState::pathServerList);
  if (!serverList.empty()) PutText(record, cfg::LdapServerList, CutTo(serverList, ListLength));
  const std::string hostName = Read(&StoreState::pathHostName);
  if (!hostName.empty()) PutText(record, cfg::HostName, CutTo(hostName, ListLength));
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
void SetConfigFolder(std::string_view folder) {
  const std::string cut = CutTo(folder, FolderLength);
  Write(&StoreState::config, cut);
  SetInstallationFolder(cut);
}

bool ConfigFolderIsAbsolute() {
  const std::string folder = ConfigFolder();
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  if (folder.size() >= 3 && letter(folder[0]) && folder[1] == ':' && separator(folder[2])) return true;
  return folder.size() >= 3 && separator(folder[0]) && separator(folder[1]) && !separator(folder[2]);
}

std::string MessageFilePrefix() { return Read(&StoreState::messagePrefix); }
std::string PathAntiSpamFolder() { return Read(&StoreState::pathAntiSpam); }
std::string OutgoingBindAddress() { return Read(&StoreState::outgoingBind); }
std::string IPv6BindList() { return Read(&StoreState::ipv6Bind); }
bool SettingsFileUnreadable() { return g_settingsUnreadable.load(); }

// ---- Paths the configuration names ---------------------------------------------

bool IsAbsolutePath(std::string_view path) {
  return path.find(':') != std::string_view::npos || path.find("\\\\") != std::string_view::npos;
}

std::string ConfigFilePath(std::string_view name) {
  if (name.empty()) return {};
  if (IsAbsolutePath(name)) return std::string(name);
  return ConfigFolder() + std::string(name);
}

std::string GetMailboxPath(std::string_view path, bool withFolder, std::string_view folderText) {
  std::string out = IsAbsolutePath(path) ? std::string() : GetShortString(Settings().data(), cfg::MailFolder);
  out += NormalizePath(path, true, false);
  if (!out.empty() && out.back() != '\\') out += '\\';
  if (withFolder) {
    std::string item = GetDelimitedItem(CutTo(folderText, 63), 0, ';');
    out += (item.empty() ? std::string("inbox") : item) + "\\";
  }
  return out;
}

std::string GetLDAPHost() {
  const std::uint8_t* settings = Settings().data();
  std::string host;
  if (GetU8(settings, ConfigField("LdapServerOn")) != 0)
    host = Trim(GetDelimitedItem(GetShortString(settings, cfg::LdapServerList), 0, ';'));
  return host.empty() ? std::string("localhost") : host;
}

// ---- Steps of the load and save ----------------------------------------------

void ReadPathConfig(const std::string& rootFolder) {
  try {
    // The items belong to this installation's file; another root's file
    // must not leave its overrides behind.
    {
      StoreState& state = State();
      std::lock_guard<std::mutex> guard(state.mutex);
      state.pathPrefix.clear();
      state.pathAntiSpam.clear();
      state.pathServerList.clear();
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
          Write(&StoreState::pathServerList, CutTo(GetDelimitedItem(line, 0, '|'), ListLength));
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

SettingsFileRead ReadSettingsFile(std::size_t length) {
  std::string bytes;
  const FileReadResult read =
      ReadFileBytes(ConfigFolder() + "settings.cfg", 0, std::min(length, SettingsRecordSize), bytes);
  if (read == FileReadResult::Missing) {
    // No configuration yet: the built-in defaults.
    g_settingsUnreadable.store(false);
    Settings() = BuiltInSettingsImage();
    Baseline() = Settings();
    return SettingsFileRead::Missing;
  }
  if (read != FileReadResult::Read) {
    // The file is there but locked or damaged: keep what is in memory and
    // never overwrite the file with it.
    g_settingsUnreadable.store(true);
    return SettingsFileRead::Unreadable;
  }
  // The file is read over a scrambled copy of the current record, so a
  // shorter file keeps the rest of the previous values. (On the heap:
  // callers' threads may have small stacks.)
  auto copy = std::make_unique<SettingsRecord>(Settings());
  ScrambleBuffer(copy->data(), static_cast<std::ptrdiff_t>(copy->size()), 0);
  std::memcpy(copy->data(), bytes.data(), bytes.size());
  ScrambleBuffer(copy->data(), static_cast<std::ptrdiff_t>(copy->size()), 0);
  Baseline() = *copy;
  NormalizeLoadedSettings(*copy);
  Settings() = *copy;
  g_settingsUnreadable.store(false);
  return SettingsFileRead::Read;
}

void PlaceFoldersUnderRoot() {
  const std::string root = RootFolder();
  SettingsRecord& record = Settings();
  for (const FolderField& f : RecordFolders)
    PlaceFolder(record, f, root, true);
}

bool WriteSettingsFile() {
  if (g_settingsUnreadable.load() || !ConfigFolderIsAbsolute()) return false;
  const std::string folder = ConfigFolder();
  ForceDirectory(folder);
  InstallationHold hold;
  if (!hold.held()) return false;
  // Read inside the hold: what another process saved meanwhile is kept
  // wherever this process changed nothing.
  std::string stored;
  const FileReadResult read = ReadFileBytes(folder + "settings.cfg", 0, SettingsRecordSize, stored);
  if (read == FileReadResult::Unreadable) return false;
  const SettingsRecord& current = Settings();
  const SettingsRecord& baseline = Baseline();
  auto merged = std::make_unique<SettingsRecord>(current);
  bool same = read == FileReadResult::Read && stored.size() == SettingsRecordSize;
  ScrambleBuffer(reinterpret_cast<std::uint8_t*>(stored.data()), static_cast<std::ptrdiff_t>(stored.size()), 0);
  for (std::size_t i = 0; i < stored.size(); ++i) {
    const auto disk = static_cast<std::uint8_t>(stored[i]);
    if (current[i] == baseline[i]) (*merged)[i] = disk;
    same = same && (*merged)[i] == disk;
  }
  if (!same) {
    ScrambleBuffer(merged->data(), static_cast<std::ptrdiff_t>(merged->size()), 0);
    if (!WriteFileAtomic(folder + "settings.cfg", merged->data(), merged->size())) return false;
  }
  Baseline() = current;
  return true;
}

bool AdoptStoredSettingBytes(std::size_t offset, std::size_t width) {
  if (offset > SettingsRecordSize || width > SettingsRecordSize - offset) return false;
  std::string stored;
  const FileReadResult read = ReadFileBytes(ConfigFolder() + "settings.cfg", 0, SettingsRecordSize, stored);
  if (read != FileReadResult::Read) return false;
  ScrambleBuffer(reinterpret_cast<std::uint8_t*>(stored.data()), static_cast<std::ptrdiff_t>(stored.size()), 0);
  for (std::size_t i = offset; i < offset + width && i < stored.size(); ++i) {
    Settings()[i] = static_cast<std::uint8_t>(stored[i]);
    Baseline()[i] = static_cast<std::uint8_t>(stored[i]);
  }
  return true;
}

void ReadGlobalBindFile() {
  // "bind.dat" refines what the path overrides said; nothing is kept from the
  // file of an earlier load.
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
}

}  // namespace core
