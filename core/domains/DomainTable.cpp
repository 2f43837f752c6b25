#include "core/domains/DomainTable.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "core/config/ConfigStore.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainBindings.h"
#include "core/domains/LastLookup.h"
#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "core/platform/LockTable.h"
#include "core/util/PathText.h"
#include "core/util/SnapshotCell.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::uint8_t DatabaseStorageMode = 2;

struct Table {
  SRWLOCK lock = SRWLOCK_INIT;
  DomainEntries entries;
  bool unreadable = false;
  // What the last load read, for the conversion that follows it.
  bool loadedFromLegacyWhole = false;
  // The last successful lookup, and the count of changes that made the
  // table forget it (a lookup that raced one is not remembered).
  LastLookup last;
  // A copy of the entries for lookups that take no lock: withdrawn by every
  // change of the names (under the exclusive hold) and copied again by the
  // first lookup after it.
  SnapshotCell<DomainEntries> names;
  std::atomic<bool> copying{false};
  // Changed since it was read or written: only then does a save write it.
  bool unsaved = false;
  // The two files as this process last read or wrote them (the count lives
  // in "settings.cfg").
  FileVersion domainsFile, settingsFile;
};

Table& TheTable() {
  static Table table;
  return table;
}

std::atomic<bool> g_reloadPending{false};
SRWLOCK g_reloadLock = SRWLOCK_INIT;  // held while the table is reloaded from the back end
std::atomic<bool> g_subdomainList{false};

std::uint32_t SettingsCount() { return BoundedDomainCount(GetU32(Settings().data(), cfg::DomainCount)); }
void SetSettingsCount(std::uint32_t count) { SetU32(Settings().data(), cfg::DomainCount, count); }

// Call with the exclusive hold: the count lives in the settings record.
void PublishCount(const Table& table) { SetSettingsCount(table.entries.count); }

// Call with the exclusive hold after the names changed in place: lookups
// that take no lock must not answer from the old copy any more.
void NamesChanged(Table& table) { table.names.Withdraw(); }

// Call with the exclusive hold; the copy goes first, so a lookup that sees
// the memo forgotten never finds the old copy.
void ForgetLastLookup(Table& table) {
  NamesChanged(table);
  table.last.Forget();
}

FileVersion VersionOf(const char* name) { return GetFileTimeSize(ConfigFolder() + name); }

}  // namespace

// ---- Load, convert, save ----------------------------------------------------

void DomainListClear() {
  Table& table = TheTable();
  ExclusiveSrwGuard hold(table.lock);
  TableLock release(AccountFilesLock);  // the release of the block, as every user of lock 0 expects
  const std::uint32_t count = table.entries.count;
  table.entries = DomainEntries{};
  table.entries.count = count;
  ForgetLastLookup(table);
}

bool DomainListLoad() {
  Table& table = TheTable();
  try {
    DomainListClear();
    const std::string folder = ConfigFolder();
    // Taken before the read: a change during it makes the next check reload.
    const FileVersion domainsFile = VersionOf("domains.cfg"), settingsFile = VersionOf("settings.cfg");
    const std::uint32_t stored = GetU32(Settings().data(), cfg::DomainCount);
    const std::size_t wanted = static_cast<std::size_t>(BoundedDomainCount(stored)) * DomainEntrySize;

    std::string bytes;
    bool legacy = false;
    FileReadResult result = ReadFileBytes(folder + "domains.cfg", 0, wanted, bytes);
    std::int64_t legacyLength = 0;
    if (result == FileReadResult::Missing) {
      legacy = true;
      result = ReadFileBytes(folder + "settings.cfg", LegacyDomainListOffset, wanted, bytes);
      legacyLength = std::max<std::int64_t>(
          0, GetFileSizeByName(folder + "settings.cfg") - static_cast<std::int64_t>(LegacyDomainListOffset));
    }
    if (result != FileReadResult::Read) {
      ExclusiveSrwGuard hold(table.lock);
      // Unreadable: keep the file on disk from being overwritten by an empty table.
      table.unreadable = result == FileReadResult::Unreadable;
      table.loadedFromLegacyWhole = false;
      return false;
    }
    DomainEntries loaded = LoadDomainEntries(stored, bytes, legacy);
    if (legacy && !bytes.empty()) {
      // In this form every byte of the settings record from the list on
      // belonged to domain entries, none to settings: all take the built-in
      // values again (even past the entries read, a stale entry's bytes would
      // read as the lockout and password settings).
      const SettingsRecord& image = BuiltInSettingsImage();
      std::copy(image.begin() + LegacyDomainListOffset, image.end(), Settings().begin() + LegacyDomainListOffset);
    }
    ExclusiveSrwGuard hold(table.lock);
    table.entries = std::move(loaded);
    table.unreadable = false;
    table.loadedFromLegacyWhole = legacy && legacyLength % static_cast<std::int64_t>(DomainEntrySize) == 0;
    // The next save writes "domains.cfg" when the load changed what it read
    // (another source, names lower-cased, a short file filled up).
    table.unsaved = legacy || table.entries.block.size() != bytes.size() ||
                    std::memcmp(table.entries.block.data(), bytes.data(), bytes.size()) != 0;
    table.domainsFile = domainsFile;
    table.settingsFile = settingsFile;
    ForgetLastLookup(table);
    PublishCount(table);
    return true;
  } catch (...) {
    // Out of memory: an empty table, and the file on disk stays as it is.
    ExclusiveSrwGuard hold(table.lock);
    table.unreadable = true;
    return false;
  }
}

void DomainListMigrate() {
  Table& table = TheTable();
  ExclusiveSrwGuard hold(table.lock);
  NamesChanged(table);
  try {
    table.entries.count = SettingsCount();
    const std::vector<std::uint8_t> before = table.entries.block;
    const std::uint32_t countBefore = table.entries.count;
    MigrateDomainEntries(table.entries, Settings().data(), table.loadedFromLegacyWhole);
    table.unsaved = table.unsaved || before != table.entries.block || countBefore != table.entries.count;
    table.loadedFromLegacyWhole = false;
    ForgetLastLookup(table);
    PublishCount(table);
  } catch (...) {
    SetU8(Settings().data(), ConfigField("DomainTableIn96ByteLayout"), 1);
  }
}

bool DomainListSave() {
  try {
    Table& table = TheTable();
    std::vector<std::uint8_t> data;
    const std::string file = ConfigFolder() + "domains.cfg";
    const bool exists = FileExists(file);
    {
      SharedSrwGuard hold(table.lock);
      if (table.unreadable) return false;
      // Unchanged: the file keeps what another process may have written.
      if (!table.unsaved && exists) return true;
      const std::size_t live = std::min<std::size_t>(SettingsCount(), table.entries.Allocated());
      data.assign(table.entries.block.begin(),
                  table.entries.block.begin() + static_cast<std::ptrdiff_t>(live * DomainEntrySize));
    }
    if (!WriteFileAtomic(file, data.data(), data.size())) return false;
    ExclusiveSrwGuard hold(table.lock);
    table.unsaved = false;
    table.domainsFile = GetFileTimeSize(file);
    return true;
  } catch (...) {
    return false;
  }
}

void NoteSettingsFileWritten() {
  Table& table = TheTable();
  const FileVersion now = VersionOf("settings.cfg");
  ExclusiveSrwGuard hold(table.lock);
  table.settingsFile = now;
}

bool DomainListReloadIfChanged() {
  Table& table = TheTable();
  // The stamps are read before the hold: it guards only what was noted.
  const FileVersion domainsFile = VersionOf("domains.cfg");
  const FileVersion settingsFile = VersionOf("settings.cfg");
  {
    SharedSrwGuard hold(table.lock);
    if (table.domainsFile == domainsFile && table.settingsFile == settingsFile) return false;
  }
  // The count and the layout flag as the file holds them now, then the
  // entries, as a load would.
  AdoptStoredSettingBytes(cfg::DomainCount.offset, 4);
  AdoptStoredSettingBytes(ConfigField("DomainTableIn96ByteLayout").offset, 1);
  DomainListLoad();
  DomainListMigrate();
  return true;
}

bool DomainTableUnreadable() {
  Table& table = TheTable();
  SharedSrwGuard hold(table.lock);
  return table.unreadable;
}

// ---- Entries ----------------------------------------------------------------

std::uint32_t DomainCount() { return SettingsCount(); }

std::uint32_t CountDomains() {
  if (GetU8(Settings().data(), cfg::StorageMode) == DatabaseStorageMode && IsDBLoaded() && g_reloadPending.load()) {
    LockDatabase database;  // lock 5 before the table, as the lock order says
    // One reload at a time, and the mark goes only once the back end's table
    // is in: a reader that came meanwhile waits here instead of taking the
    // table the load read from the files for an answer.
    ExclusiveSrwGuard reload(g_reloadLock);
    if (g_reloadPending.load()) {
      ReloadDomainsFromDB();
      g_reloadPending.store(false);
    }
  }
  return SettingsCount();
}

void ReloadDomainsFromDB() {
  const std::int32_t n = DbGetDomainCount();
  if (n <= 0) return;
  DomainEntries fresh;
  fresh.Add({}, BoundedDomainCount(static_cast<std::uint32_t>(n)));
  const std::uint32_t allocated = static_cast<std::uint32_t>(fresh.Allocated());
  if (allocated == 0 || !DbGetDomains(fresh.block.data(), static_cast<std::int32_t>(allocated))) return;
  // Names from the back end obey the same rules as names from the file.
  const std::string bytes(reinterpret_cast<const char*>(fresh.block.data()), fresh.block.size());
  fresh = LoadDomainEntries(allocated, bytes, false);
  Table& table = TheTable();
  ExclusiveSrwGuard hold(table.lock);
  TableLock release(AccountFilesLock);
  table.entries = std::move(fresh);
  table.unsaved = true;
  ForgetLastLookup(table);
  PublishCount(table);
}

std::string DomainListGetName(int index) {
  Table& table = TheTable();
  SharedSrwGuard hold(table.lock);
  if (!table.entries.InTable(index)) return {};
  return std::string(table.entries.Name(static_cast<std::size_t>(index)));
}

std::string DomainListGetIP(int index) {
  Table& table = TheTable();
  SharedSrwGuard hold(table.lock);
  if (!table.entries.InTable(index)) return {};
  return DottedAddress(table.entries.Address(static_cast<std::size_t>(index)));
}

void DomainListSetIP(int index, std::string_view address) {
  const std::uint32_t value = AddressFromText(address);
  Table& table = TheTable();
  ExclusiveSrwGuard hold(table.lock);
  if (!table.entries.InTable(index)) return;
  table.entries.SetAddress(static_cast<std::size_t>(index), value);
  table.unsaved = true;
}

bool DomainListAdd(std::string_view name, std::uint32_t grow) {
  try {
    Table& table = TheTable();
    ExclusiveSrwGuard hold(table.lock);
    NamesChanged(table);
    table.entries.count = SettingsCount();
    table.entries.Add(name, grow);
    table.unsaved = true;
    PublishCount(table);
  } catch (...) {
  }
  return true;
}

bool DomainListRename(int index, std::string_view newName) {
  Table& table = TheTable();
  ExclusiveSrwGuard hold(table.lock);
  if (!table.entries.InTable(index)) return false;
  const std::size_t at = static_cast<std::size_t>(index);
  table.entries.SetEntry(at, newName, table.entries.Address(at));
  table.unsaved = true;
  ForgetLastLookup(table);
  return true;
}

bool DomainListDelete(int index) {
  std::size_t moved = 0;
  {
    Table& table = TheTable();
    ExclusiveSrwGuard hold(table.lock);
    NamesChanged(table);
    table.entries.count = SettingsCount();
    if (index < 0 || !table.entries.Remove(static_cast<std::size_t>(index))) return false;
    table.unsaved = true;
    ForgetLastLookup(table);
    PublishCount(table);
    moved = table.entries.Live();
  }
  // Each moved domain's binding is stored again at its new place (its
  // "bind.dat" and the marker, or the back end's copy); the entries are
  // already consistent, so a failure here loses nothing.
  for (std::size_t c = static_cast<std::size_t>(index); c < moved; ++c) {
    try {
      const int at = static_cast<int>(c);
      WriteDomainBind(at, ReadDomainBind(at), false);
    } catch (...) {
    }
  }
  return true;
}

// ---- Lookup helpers shared with DomainLookup.cpp -----------------------------

int DomainListExactIndex(std::string_view name) {
  Table& table = TheTable();
  SharedSrwGuard hold(table.lock);
  return table.entries.IndexOf(name);
}

bool RecallLastLookup(std::string_view name, int& index) {
  const LastLookup::Seen seen = TheTable().last.Recall(name);
  if (!seen.matched) return false;
  index = seen.index;
  return true;
}

namespace {

// The exact index under the shared hold; the first lookup after a change
// also copies the entries for the lookups after it.
int ExactUnderHold(Table& table, std::string_view name) {
  SharedSrwGuard hold(table.lock);
  const int index = table.entries.IndexOf(name);
  if (!table.names.Published() && !table.copying.exchange(true)) {
    try {
      table.names.PublishIfEmpty(std::make_unique<const DomainEntries>(table.entries));
    } catch (...) {
      // No memory for the copy: lookups keep taking the hold.
    }
    table.copying.store(false);
  }
  return index;
}

}  // namespace

int DomainListRecallOrExact(std::string_view name, bool exact) {
  Table& table = TheTable();
  // Takes no lock: the remembered pair, else the copy of the entries. When
  // another lookup or a change touched the pair meanwhile, the two looks
  // might not belong together: look again, and after a few lost races hold
  // the pair still while looking in the copy.
  for (int attempt = 0;; ++attempt) {
    if (exact && attempt >= 4) {
      int index = -1;
      const bool answered = table.last.RecallOrLook(
          name,
          [&](int& found) {
            const SnapshotCell<DomainEntries>::Pin copy = table.names.Read();
            if (!copy) return false;
            found = copy->IndexOf(name);
            return true;
          },
          index);
      if (answered) return index;
      ExactUnderHold(table, name);  // no copy: make one, then try again
      continue;
    }
    const LastLookup::Seen seen = table.last.Recall(name);
    if (seen.matched) return seen.index;
    if (!exact) return -1;
    int index = -1;
    {
      const SnapshotCell<DomainEntries>::Pin copy = table.names.Read();
      index = copy ? copy->IndexOf(name) : ExactUnderHold(table, name);
    }
    if (!table.last.Unchanged(seen.version)) continue;
    if (index >= 0) table.last.TryRemember(seen.version, name, index);
    return index;
  }
}

std::uint64_t DomainTableChanges() { return TheTable().last.Forgets(); }

void RememberLastLookup(std::string_view name, int index, std::uint64_t changesBefore) {
  // The index may name another entry by now when the table changed.
  TheTable().last.RememberUnlessForgotten(changesBefore, name, index);
}

bool DomainFolder(std::string_view name, std::string& folder) {
  if (!IsSafeFolderName(name)) return false;
  folder = ConfigFolder() + std::string(name) + "\\";
  return true;
}

void NoteSubdomainList() { g_subdomainList.store(FileExists(ConfigFolder() + "subdomains.dat")); }
bool SubdomainListExists() { return g_subdomainList.load(); }

void SetDomainReloadPending(bool pending) { g_reloadPending.store(pending); }
bool DomainReloadPending() { return g_reloadPending.load(); }

}  // namespace core
