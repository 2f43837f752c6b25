#include "core/accounts/AccountCache.h"

#include <chrono>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "core/config/ConfigStore.h"
#include "core/platform/LockTable.h"
#include "core/util/NameText.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t KeyLength = 127;
constexpr auto FastValidity = std::chrono::seconds(30);
using Clock = std::chrono::steady_clock;

struct Entry {
  std::string firstKey, secondKey;
  AccountRecordBytes record{};
  Clock::time_point lastUse{};
  AccountFileStamp stamp;
  bool used = false;
};

// Guarded by lock 4.
std::vector<Entry>& Entries() {
  static std::vector<Entry> entries;
  return entries;
}

// Changes this library made, per account file. A leaf lock: nothing else is
// taken while it is held.
std::mutex g_generationMutex;
std::map<std::string, std::uint64_t>& Generations() {
  static std::map<std::string, std::uint64_t> generations;
  return generations;
}

}  // namespace

AccountFileStamp CurrentAccountFileStamp(std::string_view domainName) {
  AccountFileStamp stamp;
  const std::string domain = LowerCase(domainName);
  {
    std::lock_guard<std::mutex> guard(g_generationMutex);
    const auto found = Generations().find(domain);
    stamp.generation = found == Generations().end() ? 0 : found->second;
  }
  stamp.version = GetFileTimeSize(ConfigFolder() + domain + "\\users.cfg");
  return stamp;
}

void NoteAccountFileChanged(std::string_view domainName) {
  std::lock_guard<std::mutex> guard(g_generationMutex);
  ++Generations()[LowerCase(domainName)];
}

void SizeAccountCache(std::uint32_t count) {
  TableLock hold(RecordCacheLock);
  try {
    std::vector<Entry> fresh(count);
    Entries().swap(fresh);
  } catch (const std::bad_alloc&) {
    std::vector<Entry>().swap(Entries());
  }
}

void FreeAccountCache() {
  TableLock hold(RecordCacheLock);
  std::vector<Entry>().swap(Entries());
}

std::size_t AccountCacheSize() {
  TableLock hold(RecordCacheLock);
  return Entries().size();
}

bool LookUpAccountCache(std::string_view firstKey, std::string_view secondKey, const AccountFileStamp& current,
                        bool fast, AccountRecordBytes& record) {
  TableLock hold(RecordCacheLock);
  const Clock::time_point now = Clock::now();
  for (Entry& entry : Entries()) {
    if (!entry.used) return false;
    if (entry.firstKey != firstKey || entry.secondKey != secondKey) continue;
    const bool valid = fast ? now <= entry.lastUse + FastValidity : entry.stamp == current;
    if (!valid) return false;
    record = entry.record;
    entry.lastUse = now;
    return true;
  }
  return false;
}

void StoreAccountCache(std::string_view firstKey, std::string_view secondKey, const AccountFileStamp& stamp,
                       const AccountRecordBytes& record) {
  TableLock hold(RecordCacheLock);
  std::vector<Entry>& entries = Entries();
  if (entries.empty()) return;
  const Clock::time_point now = Clock::now();
  std::size_t slot = 0;
  Clock::time_point oldest = now;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].used || (entries[i].firstKey == firstKey && entries[i].secondKey == secondKey)) {
      slot = i;
      break;
    }
    if (entries[i].lastUse < oldest) {
      oldest = entries[i].lastUse;
      slot = i;
    }
  }
  Entry& entry = entries[slot];
  entry.firstKey = CutTo(firstKey, KeyLength);
  entry.secondKey = CutTo(secondKey, KeyLength);
  entry.record = record;
  entry.stamp = stamp;
  entry.lastUse = now;
  entry.used = true;
}

bool CopyAccountCacheEntry(std::size_t index, CachedAccount& out) {
  TableLock hold(RecordCacheLock);
  const std::vector<Entry>& entries = Entries();
  if (index >= entries.size() || !entries[index].used) return false;
  const Entry& entry = entries[index];
  out.firstKey = entry.firstKey;
  out.secondKey = entry.secondKey;
  out.record = entry.record;
  out.stamp = entry.stamp;
  return true;
}

void TouchAccountCacheEntry(std::size_t index, std::string_view firstKey, std::string_view secondKey) {
  TableLock hold(RecordCacheLock);
  std::vector<Entry>& entries = Entries();
  if (index < entries.size() && entries[index].used && entries[index].firstKey == firstKey &&
      entries[index].secondKey == secondKey)
    entries[index].lastUse = Clock::now();
}

std::string AccountCacheKey(const std::uint8_t* record) {
  return CutTo(LowerCase(FirstListItem(FieldText(record, account::AliasList))), KeyLength);
}

}  // namespace core
