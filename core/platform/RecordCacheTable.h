#pragma once
// The one shape of the record caches (domain and account records): entries
// of a key, a record, the stamp of the record's file when it was read, and
// the times of its store and of its last use. An entry is valid while its
// file keeps that stamp, or, in the fast mode, for 30 seconds after it was
// stored (hits do not extend it: an entry asked for every few seconds must
// still give way to the record's current state); a store refreshes the
// entry of the same key, else takes an empty one, else the one used longest
// ago. Everything happens under lock 4 and only copies records in
// and out: no file is touched and no other lock taken there.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <new>
#include <vector>

#include "core/platform/LockTable.h"

namespace core {

// The clock every record cache reads; null is the steady clock. Tests set
// their own to age entries without waiting.
using RecordCacheClock = std::chrono::steady_clock::time_point (*)();
inline std::atomic<RecordCacheClock> g_recordCacheClock{nullptr};
inline void SetRecordCacheClock(RecordCacheClock clock) { g_recordCacheClock.store(clock); }

template <typename Key, typename Record, typename Stamp>
class RecordCacheTable {
 public:
  using Clock = std::chrono::steady_clock;
  struct Entry {
    Key key{};
    Record record{};
    Stamp stamp{};
    Clock::time_point stored{};
    Clock::time_point lastUse{};
    bool used = false;
  };

  // Sizes the table and empties every entry; a size that cannot be
  // allocated leaves no entries.
  void Resize(std::uint32_t count) {
    TableLock hold(RecordCacheLock);
    if (count == entries_.size()) {
      // Every start sizes the caches again, mostly to the same size: a new
      // table of megabytes each time would cost more than the whole start.
      // Entries are taken in order and never freed, so the used ones come
      // first and the rest are still as new.
      for (Entry& entry : entries_) {
        if (!entry.used) break;
        entry = Entry{};
      }
      return;
    }
    try {
      std::vector<Entry> fresh(count);
      entries_.swap(fresh);
    } catch (const std::bad_alloc&) {
      std::vector<Entry>().swap(entries_);
    }
  }

  std::size_t Size() {
    TableLock hold(RecordCacheLock);
    return entries_.size();
  }

  // The first entry of the key decides; an empty entry ends the search.
  bool LookUp(const Key& key, const Stamp& current, bool fast, Record& out) {
    TableLock hold(RecordCacheLock);
    const Clock::time_point now = Now();
    for (Entry& entry : entries_) {
      if (!entry.used) return false;
      if (!(entry.key == key)) continue;
      const bool valid = fast ? now <= entry.stored + std::chrono::seconds(30) : entry.stamp == current;
      if (!valid) return false;
      out = entry.record;
      entry.lastUse = now;
      return true;
    }
    return false;
  }

  void Store(const Key& key, const Stamp& stamp, const Record& record) {
    TableLock hold(RecordCacheLock);
    if (entries_.empty()) return;
    const Clock::time_point now = Now();
    std::size_t slot = 0;
    Clock::time_point oldest = now;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (!entries_[i].used || entries_[i].key == key) {
        slot = i;
        break;
      }
      if (entries_[i].lastUse < oldest) {
        oldest = entries_[i].lastUse;
        slot = i;
      }
    }
    entries_[slot] = Entry{key, record, stamp, now, now, true};
  }

  // Copies entry index out; false at the first empty entry or past the end.
  bool Copy(std::size_t index, Entry& out) {
    TableLock hold(RecordCacheLock);
    if (index >= entries_.size() || !entries_[index].used) return false;
    out = entries_[index];
    return true;
  }

  // Renews the last use of entry index while it still holds the key.
  void Touch(std::size_t index, const Key& key) {
    TableLock hold(RecordCacheLock);
    if (index < entries_.size() && entries_[index].used && entries_[index].key == key) entries_[index].lastUse = Now();
  }

 private:
  static Clock::time_point Now() {
    const RecordCacheClock clock = g_recordCacheClock.load();
    return clock != nullptr ? clock() : Clock::now();
  }

  std::vector<Entry> entries_;  // guarded by lock 4
};

}  // namespace core
