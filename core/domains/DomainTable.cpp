#include "core/domains/DomainTable.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/config/SettingsRecord.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/util/NetText.h"
#include "core/util/RecordScrambling.h"
#include "core/util/Text.h"

namespace core {
namespace {

struct Table {
  std::mutex mutex;
  std::vector<std::uint8_t> block;
  bool unreadable = false;
};

Table& TheTable() {
  static Table table;
  return table;
}

std::atomic<bool> g_reloadPending{false};
std::atomic<bool> g_subdomainList{false};

std::size_t EntryCount(const Table& table) { return table.block.size() / DomainEntrySize; }

std::uint32_t SettingsCount() { return GetU32(Settings().data(), cfg::DomainCount); }
void SetSettingsCount(std::uint32_t count) { SetU32(Settings().data(), cfg::DomainCount, count); }

bool InTable(const Table& table, int index) {
  return index >= 0 && static_cast<std::size_t>(index) < EntryCount(table);
}

std::string NameAt(const Table& table, std::size_t index) {
  const std::uint8_t* entry = table.block.data() + index * DomainEntrySize;
  const std::size_t length = std::min<std::size_t>(entry[0], DomainNameMaxLength);
  return std::string(reinterpret_cast<const char*>(entry + 1), length);
}

// Lower-cases every name and cuts a length byte that would reach the address.
void NormalizeNames(std::vector<std::uint8_t>& block) {
  for (std::size_t offset = 0; offset + DomainEntrySize <= block.size(); offset += DomainEntrySize) {
    std::uint8_t* entry = block.data() + offset;
    const std::size_t length = std::min<std::size_t>(entry[0], DomainNameMaxLength);
    entry[0] = static_cast<std::uint8_t>(length);
    for (std::size_t i = 1; i <= length; ++i) {
      if (entry[i] >= 'A' && entry[i] <= 'Z') entry[i] = static_cast<std::uint8_t>(entry[i] + ('a' - 'A'));
    }
  }
}

}  // namespace

void DomainListClear() {
  TableLock hold(AccountFilesLock);
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.mutex);
  std::vector<std::uint8_t>().swap(table.block);
}

bool DomainListLoad() {
  Table& table = TheTable();
  try {
    DomainListClear();
    const std::string folder = ConfigFolder();
    const std::uint64_t count = std::min<std::uint32_t>(SettingsCount(), MaxDomainEntries);
    const std::size_t wanted = static_cast<std::size_t>(count * DomainEntrySize);
    if (count < SettingsCount()) SetSettingsCount(static_cast<std::uint32_t>(count));

    std::string bytes;
    bool legacy = false;
    FileReadResult result = ReadFileBytes(folder + "domains.cfg", 0, wanted, bytes);
    if (result == FileReadResult::Missing) {
      legacy = true;
      result = ReadFileBytes(folder + "settings.cfg", LegacyDomainListOffset, wanted, bytes);
    }
    if (result == FileReadResult::Unreadable) {
      std::lock_guard<std::mutex> guard(table.mutex);
      table.unreadable = true;
      return false;
    }
    if (result == FileReadResult::Missing) {
      // Nothing to read: the table stays empty and the count as it is.
      std::lock_guard<std::mutex> guard(table.mutex);
      table.unreadable = false;
      return false;
    }

    // Every counted entry exists; what the file does not hold stays empty, so
    // a later conversion can still tell an older table from a current one.
    std::vector<std::uint8_t> block(wanted, 0);
    const std::size_t read = std::min(block.size(), bytes.size());
    if (read > 0) std::memcpy(block.data(), bytes.data(), read);
    if (legacy) ScrambleBuffer(block.data(), static_cast<std::ptrdiff_t>(read), 8);
    NormalizeNames(block);
    {
      TableLock hold(AccountFilesLock);
      std::lock_guard<std::mutex> guard(table.mutex);
      table.block.swap(block);
      table.unreadable = false;
    }
    return true;
  } catch (...) {
    // Out of memory: an empty table, and the file on disk stays as it is.
    std::lock_guard<std::mutex> guard(table.mutex);
    table.unreadable = true;
    return false;
  }
}

bool DomainListSave() {
  try {
    Table& table = TheTable();
    std::vector<std::uint8_t> data;
    {
      std::lock_guard<std::mutex> guard(table.mutex);
      if (table.unreadable) return false;
      const std::uint64_t live = std::min<std::uint64_t>(SettingsCount(), EntryCount(table));
      data.assign(table.block.begin(), table.block.begin() + static_cast<std::ptrdiff_t>(live * DomainEntrySize));
    }
    return WriteFileAtomic(ConfigFolder() + "domains.cfg", data.data(), data.size());
  } catch (...) {
    return false;
  }
}

bool DomainTableUnreadable() {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.mutex);
  return table.unreadable;
}

std::uint32_t DomainCount() { return SettingsCount(); }

std::string DomainListGetName(int index) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.mutex);
  if (!InTable(table, index)) return {};
  return NameAt(table, static_cast<std::size_t>(index));
}

std::string DomainListGetIP(int index) {
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.mutex);
  if (!InTable(table, index)) return {};
  const std::uint8_t* address =
      table.block.data() + static_cast<std::size_t>(index) * DomainEntrySize + DomainAddressOffset;
  if (address[0] == 0 && address[1] == 0 && address[2] == 0 && address[3] == 0) return {};
  return std::to_string(address[0]) + "." + std::to_string(address[1]) + "." + std::to_string(address[2]) + "." +
         std::to_string(address[3]);
}

void DomainListSetIP(int index, std::string_view address) {
  std::uint32_t value = 0;
  const std::string text = Trim(address);
  if (!text.empty() && !ParseIPv4Strict(text, value)) value = 0;
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.mutex);
  if (!InTable(table, index)) return;
  std::uint8_t* bytes = table.block.data() + static_cast<std::size_t>(index) * DomainEntrySize + DomainAddressOffset;
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

int DomainListFind(std::string_view name) {
  const std::string wanted = LowerCase(name);
  if (wanted.empty()) return -1;
  Table& table = TheTable();
  std::lock_guard<std::mutex> guard(table.mutex);
  const std::size_t live = std::min<std::size_t>(SettingsCount(), EntryCount(table));
  for (std::size_t i = 0; i < live; ++i) {
    if (NameAt(table, i) == wanted) return static_cast<int>(i);
  }
  return -1;
}

bool DomainListExists(std::string_view name) { return DomainListFind(name) >= 0; }

void NoteSubdomainList() { g_subdomainList.store(FileExists(ConfigFolder() + "subdomains.dat")); }
bool SubdomainListExists() { return g_subdomainList.load(); }

void SetDomainReloadPending(bool pending) { g_reloadPending.store(pending); }
bool DomainReloadPending() { return g_reloadPending.load(); }

}  // namespace core
