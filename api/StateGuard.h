#pragma once
// The hold of the library-state lock, apart from the exception boundary, so
// that a caller inside the library (a COM method) can hold the state once
// around several exports. Init, Done and SaveConfig replace that state and
// take it exclusively; the other exports read it and take it shared, so a
// free-threaded caller never sees a half-replaced configuration. The eight
// core locks keep their own meaning.
//
// The lock is a slim reader-writer lock, which a thread must never take a
// second time. A guard therefore takes nothing when its thread already holds
// the state as strongly as asked; a thread holding it shared that asks for
// the exclusive hold is refused (the lock cannot be raised without letting
// go), which the export answers as a failure instead of waiting forever.
#include <windows.h>

namespace api {

// Process-wide lock over the library's state.
SRWLOCK& StateLock();

enum class StateHold { None, Shared, Exclusive };

class StateGuard {
 public:
  explicit StateGuard(StateHold hold) noexcept;
  ~StateGuard();
  StateGuard(const StateGuard&) = delete;
  StateGuard& operator=(const StateGuard&) = delete;

  // Whether the calling thread holds the state as asked (always for None).
  bool holds() const noexcept { return holds_; }

 private:
  StateHold taken_ = StateHold::None;  // what this guard itself took
  bool holds_ = false;
};

// What the calling thread holds, through any guard.
StateHold HeldByThisThread() noexcept;

}  // namespace api
