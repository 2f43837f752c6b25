#include "core/domains/DomainCache.h"

#include <chrono>
#include <new>
#include <string>
#include <vector>

#include "core/platform/LockTable.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t KeyLength = 127;
constexpr auto FastValidity = std::chrono::seconds(30);

using Clock = std::chrono::steady_clock;

struct Entry {
  std::string key;
  DomainRecordBytes record{};
  Clock::time_point lastUse{};  // the epoch: an empty entry
  FileVersion version;
  bool used = false;
};

// Guarded by lock 4.
std::vector<Entry>& Entries() {
  static std::vector<Entry> entries;
  return entries;
}

}  // namespace

void SizeDomainCache(std::uint32_t count) {
  TableLock hold(RecordCacheLock);
  try {
    std::vector<Entry> fresh(count);
    Entries().swap(fresh);
  } catch (const std::bad_alloc&) {
    std::vector<Entry>().swap(Entries());
  }
}

void FreeDomainCache() {
  TableLock hold(RecordCacheLock);
  std::vector<Entry>().swap(Entries());
}

std::size_t DomainCacheSize() {
  TableLock hold(RecordCacheLock);
  return Entries().size();
}

bool LookUpDomainCache(std::string_view key, const FileVersion& current, bool fast, DomainRecordBytes& record) {
  TableLock hold(RecordCacheLock);
  const Clock::time_point now = Clock::now();
  for (Entry& entry : Entries()) {
    if (!entry.used) return false;
    if (entry.key != key) continue;
    // The first entry of the key decides; no other is tried.
    const bool valid = fast ? now <= entry.lastUse + FastValidity : entry.version == current;
    if (!valid) return false;
    record = entry.record;
    entry.lastUse = now;
    return true;
  }
  return false;
}

void StoreDomainCache(std::string_view key, const FileVersion& version, const DomainRecordBytes& record) {
  TableLock hold(RecordCacheLock);
  std::vector<Entry>& entries = Entries();
  if (entries.empty()) return;
  const Clock::time_point now = Clock::now();
  std::size_t slot = 0;
  Clock::time_point oldest = now;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].used && entries[i].key == key) {
      slot = i;
      break;
    }
    if (!entries[i].used) {
      slot = i;
      break;
    }
    if (entries[i].lastUse < oldest) {
      oldest = entries[i].lastUse;
      slot = i;
    }
  }
  Entry& entry = entries[slot];
  entry.key = CutTo(key, KeyLength);
  entry.record = record;
  entry.version = version;
  entry.lastUse = now;
  entry.used = true;
}

}  // namespace core
