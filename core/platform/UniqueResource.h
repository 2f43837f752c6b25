#pragma once
// One owner for every kind of handle, reference or mapping, and one scoped
// guard for every kind of lock. Each kind is declared in one line from these
// templates (core/platform/Handles.h); no class owns a raw resource by hand.
// Portable: the templates themselves need no operating-system header.
#include <utility>

namespace core {

template <typename T>
constexpr bool IsNotEmpty(T value) noexcept {
  return value != T{};
}

// Owns one resource of type T and closes it once with Close. Empty holds
// the value that owns nothing; IsValid tells a value worth closing (several
// Windows calls answer either null or INVALID_HANDLE_VALUE on failure).
template <typename T, auto Close, auto IsValid = &IsNotEmpty<T>, T Empty = T{}>
class UniqueResource {
 public:
  using Type = T;

  UniqueResource() noexcept = default;
  explicit UniqueResource(T value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  T get() const noexcept { return value_; }
  bool valid() const noexcept { return IsValid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  // Gives up ownership without closing.
  T release() noexcept { return std::exchange(value_, Empty); }

  // Closes the current resource (if any) and takes the new one.
  void reset(T value = Empty) noexcept {
    T old = std::exchange(value_, value);
    if (IsValid(old)) Close(old);
  }

  // Closes the current resource and answers the address to receive a new
  // one from a call that hands it out through a pointer.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = Empty;
};

// Holds Lock from construction to destruction through Acquire and Release.
template <typename Lock, auto Acquire, auto Release>
class LockGuard {
 public:
  explicit LockGuard(Lock& lock) noexcept : lock_(&lock) { Acquire(lock_); }
  ~LockGuard() { Release(lock_); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock* lock_;
};

}  // namespace core
