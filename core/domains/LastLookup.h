#pragma once
// The domain table's remembered last lookup (a name and the index it found),
// read and written by lookups on any thread without the table's lock: a
// sequence counter guards it (odd while one writer fills it in), so a reader
// sees one whole pair or looks again. Writers of the table forget it.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace core {

class LastLookup {
 public:
  // What one look saw: the counter's value (for TryRemember) and, when the
  // remembered name was the one asked for, its index.
  struct Seen {
    std::uint64_t version = 0;
    bool matched = false;
    int index = -1;
  };

  LastLookup();
  LastLookup(const LastLookup&) = delete;
  LastLookup& operator=(const LastLookup&) = delete;

  Seen Recall(std::string_view name) const;
  // True while nothing was remembered or forgotten since the look that
  // gave version.
  bool Unchanged(std::uint64_t version) const;
  // Remembers the pair only while the memo is still as the look that gave
  // version saw it; false (nothing written) otherwise.
  bool TryRemember(std::uint64_t version, std::string_view name, int index);
  // Remembers the pair unless Forget ran since Forgets() gave forgetsBefore.
  bool RememberUnlessForgotten(std::uint64_t forgetsBefore, std::string_view name, int index);
  // Recall, else look(found), and remember a found index, all in one hold
  // of the pair: for a lookup that kept losing races to other lookups. look
  // answers false when it cannot answer without waiting (then nothing is
  // written and this answers false); it must not wait for anything that may
  // wait for the pair (the table's writers forget it under their hold).
  template <typename Look>
  bool RecallOrLook(std::string_view name, Look&& look, int& index);
  // Clears the pair and counts one forgetting.
  void Forget();
  std::uint64_t Forgets() const { return forgets_.load(std::memory_order_acquire); }

 private:
  // Names up to this length are held in the words; a longer one (only ever
  // a name an alias resolved) lives in long_, under longMutex_.
  static constexpr std::size_t InlineBytes = 256;

  std::uint64_t Lock();  // the even value it replaced
  bool LockIf(std::uint64_t version);
  void Write(std::string_view name, int index);
  bool Holds(std::string_view name, std::uint32_t length) const;
  bool HoldsLong(std::string_view name) const;
  void WriteLong(std::string_view name);

  std::atomic<std::uint64_t> version_{0};
  std::atomic<std::int32_t> index_{-1};
  std::atomic<std::uint32_t> length_{0};
  std::array<std::atomic<std::uint64_t>, InlineBytes / 8> words_;
  std::atomic<std::uint64_t> forgets_{0};
  mutable std::mutex longMutex_;
  std::string long_;
};

namespace last_lookup_detail {

// Eight bytes of the name from offset on, zero beyond its end (a fixed-size
// copy for whole words: no call into the runtime on the lookup path).
inline std::uint64_t Word(std::string_view name, std::size_t offset) {
  std::uint64_t word = 0;
  if (offset + 8 <= name.size()) {
    std::memcpy(&word, name.data() + offset, 8);
    return word;
  }
  for (std::size_t i = offset; i < name.size(); ++i)
    word |= std::uint64_t{static_cast<unsigned char>(name[i])} << (8 * (i - offset));
  return word;
}

// A writer holds the counter for a few stores; one that was preempted is
// waited for without burning the processor.
inline void Pause(int& spins) {
  if (++spins > 64) std::this_thread::yield();
}

}  // namespace last_lookup_detail

inline bool LastLookup::Holds(std::string_view name, std::uint32_t length) const {
  if (length != name.size()) return false;
  if (length > InlineBytes) return HoldsLong(name);
  for (std::size_t offset = 0; offset < length; offset += 8) {
    if (words_[offset / 8].load(std::memory_order_relaxed) != last_lookup_detail::Word(name, offset)) return false;
  }
  return true;
}

inline LastLookup::Seen LastLookup::Recall(std::string_view name) const {
  for (int spins = 0;; last_lookup_detail::Pause(spins)) {
    const std::uint64_t version = version_.load(std::memory_order_acquire);
    if ((version & 1) != 0) continue;
    const int index = index_.load(std::memory_order_relaxed);
    const bool matched = index >= 0 && Holds(name, length_.load(std::memory_order_relaxed));
    std::atomic_thread_fence(std::memory_order_acquire);
    if (version_.load(std::memory_order_relaxed) == version) return {version, matched, matched ? index : -1};
  }
}

inline bool LastLookup::Unchanged(std::uint64_t version) const {
  return version_.load(std::memory_order_acquire) == version;
}

inline bool LastLookup::LockIf(std::uint64_t version) {
  if ((version & 1) != 0) return false;
  // A writer that holds the counter may give it back unchanged (it wrote
  // nothing): wait for it rather than take its hold for a change.
  for (int spins = 0;; last_lookup_detail::Pause(spins)) {
    std::uint64_t seen = version;
    if (version_.compare_exchange_weak(seen, version + 1, std::memory_order_acquire)) break;
    if (seen != version && seen != version + 1) return false;
  }
  std::atomic_thread_fence(std::memory_order_release);
  return true;
}

inline void LastLookup::Write(std::string_view name, int index) {
  const auto length = static_cast<std::uint32_t>(name.size());
  if (name.size() > InlineBytes) {
    WriteLong(name);
  } else {
    for (std::size_t offset = 0; offset < name.size(); offset += 8)
      words_[offset / 8].store(last_lookup_detail::Word(name, offset), std::memory_order_relaxed);
  }
  length_.store(length, std::memory_order_relaxed);
  index_.store(index, std::memory_order_relaxed);
}

inline bool LastLookup::TryRemember(std::uint64_t version, std::string_view name, int index) {
  if (!LockIf(version)) return false;
  Write(name, index);
  version_.store(version + 2, std::memory_order_release);
  return true;
}

template <typename Look>
bool LastLookup::RecallOrLook(std::string_view name, Look&& look, int& index) {
  const std::uint64_t version = Lock();
  const int remembered = index_.load(std::memory_order_relaxed);
  int found = -1;
  if (remembered >= 0 && Holds(name, length_.load(std::memory_order_relaxed))) {
    found = remembered;
  } else if (!look(found)) {
    version_.store(version, std::memory_order_release);  // nothing written: the same value again
    return false;
  } else if (found >= 0) {
    Write(name, found);
    version_.store(version + 2, std::memory_order_release);
    index = found;
    return true;
  }
  version_.store(version, std::memory_order_release);
  index = found;
  return true;
}

}  // namespace core
