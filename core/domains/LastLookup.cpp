#include "core/domains/LastLookup.h"

namespace core {

LastLookup::LastLookup() {
  for (auto& word : words_)
    word.store(0, std::memory_order_relaxed);
}

bool LastLookup::HoldsLong(std::string_view name) const {
  std::lock_guard<std::mutex> guard(longMutex_);
  return long_ == name;
}

void LastLookup::WriteLong(std::string_view name) {
  std::lock_guard<std::mutex> guard(longMutex_);
  long_.assign(name);
}

std::uint64_t LastLookup::Lock() {
  for (int spins = 0;; last_lookup_detail::Pause(spins)) {
    std::uint64_t version = version_.load(std::memory_order_relaxed);
    if ((version & 1) == 0 && version_.compare_exchange_weak(version, version + 1, std::memory_order_acquire)) {
      std::atomic_thread_fence(std::memory_order_release);
      return version;
    }
  }
}

bool LastLookup::RememberUnlessForgotten(std::uint64_t forgetsBefore, std::string_view name, int index) {
  const std::uint64_t version = Lock();
  if (forgets_.load(std::memory_order_relaxed) != forgetsBefore) {
    version_.store(version, std::memory_order_release);  // nothing written: the same value again
    return false;
  }
  Write(name, index);
  version_.store(version + 2, std::memory_order_release);
  return true;
}

void LastLookup::Forget() {
  const std::uint64_t version = Lock();
  index_.store(-1, std::memory_order_relaxed);
  length_.store(0, std::memory_order_relaxed);
  forgets_.fetch_add(1, std::memory_order_relaxed);
  version_.store(version + 2, std::memory_order_release);
}

}  // namespace core
