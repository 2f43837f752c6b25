#pragma once
// One immutable value published for readers that take no lock. A reader
// pins the current value in a hazard slot for the length of one look (one
// compare-and-swap); writers, serialised by their caller, withdraw it, and a
// withdrawn value is freed as soon as no slot pins it any more. Anyone may
// publish a fresh value while none is published; the first one wins.
//
// Every answer read through a pin is the answer of the value that was
// current when the pin was taken, so a look is ordered before a withdrawal
// it overlapped.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace core {

namespace snapshot_detail {

// Spreads threads over the slots, so that readers rarely meet in one: each
// thread runs on a stack of its own, so the region of a local variable tells
// threads apart without thread-local storage (which costs a library call
// per use on some targets). Two threads that meet only probe further.
inline std::size_t ThreadSlotHint() {
  const char here = 0;
  const auto address = reinterpret_cast<std::uintptr_t>(&here) >> 16;
  return static_cast<std::size_t>((address * 0x9E3779B97F4A7C15u) >> 40);
}

}  // namespace snapshot_detail

template <typename T>
class SnapshotCell {
  struct alignas(64) Slot {
    std::atomic<const T*> pinned{nullptr};
  };

 public:
  static constexpr std::size_t SlotCount = 64;

  // A pinned value (or none: nothing published, or every slot busy). The
  // value stays alive while the pin lives.
  class Pin {
   public:
    Pin() = default;
    Pin(Pin&& other) noexcept : slot_(other.slot_), value_(other.value_) {
      other.slot_ = nullptr;
      other.value_ = nullptr;
    }
    Pin& operator=(Pin&&) = delete;
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;
    ~Pin() {
      if (slot_ != nullptr) slot_->store(nullptr, std::memory_order_release);
    }
    explicit operator bool() const { return value_ != nullptr; }
    const T& operator*() const { return *value_; }
    const T* operator->() const { return value_; }

   private:
    friend class SnapshotCell;
    Pin(std::atomic<const T*>* slot, const T* value) : slot_(slot), value_(value) {}
    std::atomic<const T*>* slot_ = nullptr;
    const T* value_ = nullptr;
  };

  SnapshotCell() = default;
  SnapshotCell(const SnapshotCell&) = delete;
  SnapshotCell& operator=(const SnapshotCell&) = delete;
  // No reader may be inside a look any more.
  ~SnapshotCell() {
    delete current_.load();
    for (const T* value : retired_)
      delete value;
  }

  Pin Read() const {
    const T* value = current_.load(std::memory_order_acquire);
    if (value == nullptr) return {};
    const std::size_t start = snapshot_detail::ThreadSlotHint();
    for (std::size_t k = 0; k < SlotCount; ++k) {
      std::atomic<const T*>& slot = slots_[(start + k) % SlotCount].pinned;
      const T* empty = nullptr;
      if (!slot.compare_exchange_strong(empty, value, std::memory_order_seq_cst)) continue;
      // Pinned; it counts only while it is still the current value, since a
      // writer that withdrew it earlier may have looked at the slots already.
      for (;;) {
        const T* now = current_.load(std::memory_order_seq_cst);
        if (now == value) return Pin(&slot, value);
        if (now == nullptr) {
          slot.store(nullptr, std::memory_order_release);
          return {};
        }
        value = now;
        slot.store(value, std::memory_order_seq_cst);
      }
    }
    return {};
  }

  bool Published() const { return current_.load(std::memory_order_acquire) != nullptr; }

  // Publishes the value unless one is published already (then it is
  // dropped); also frees withdrawn values that nobody pins any more.
  bool PublishIfEmpty(std::unique_ptr<const T> value) {
    const T* expected = nullptr;
    if (!current_.compare_exchange_strong(expected, value.get(), std::memory_order_seq_cst)) return false;
    value.release();
    std::unique_lock<std::mutex> guard(retiredMutex_, std::try_to_lock);
    if (guard.owns_lock()) FreeUnpinned();
    return true;
  }

  // Withdraws the current value; it is freed once no reader pins it.
  void Withdraw() {
    const T* old = current_.exchange(nullptr, std::memory_order_seq_cst);
    std::lock_guard<std::mutex> guard(retiredMutex_);
    if (old != nullptr) retired_.push_back(old);
    FreeUnpinned();
  }

  // Withdrawn values still waiting for their readers (for tests).
  std::size_t Waiting() {
    std::lock_guard<std::mutex> guard(retiredMutex_);
    return retired_.size();
  }

 private:
  // Call holding retiredMutex_.
  void FreeUnpinned() {
    for (std::size_t i = 0; i < retired_.size();) {
      if (Pinned(retired_[i])) {
        ++i;
        continue;
      }
      delete retired_[i];
      retired_[i] = retired_.back();
      retired_.pop_back();
    }
  }

  bool Pinned(const T* value) const {
    for (const Slot& slot : slots_) {
      if (slot.pinned.load(std::memory_order_seq_cst) == value) return true;
    }
    return false;
  }

  mutable std::array<Slot, SlotCount> slots_{};
  std::atomic<const T*> current_{nullptr};
  std::mutex retiredMutex_;
  std::vector<const T*> retired_;
};

}  // namespace core
