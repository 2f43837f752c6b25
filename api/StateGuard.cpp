#include "api/StateGuard.h"

namespace api {
namespace {

thread_local StateHold t_held = StateHold::None;

}  // namespace

SRWLOCK& StateLock() {
  static SRWLOCK lock = SRWLOCK_INIT;
  return lock;
}

StateGuard::StateGuard(StateHold hold) noexcept {
  if (hold == StateHold::None || t_held == StateHold::Exclusive || t_held == hold) {
    holds_ = true;
    return;
  }
  if (t_held == StateHold::Shared) return;  // exclusive asked under a shared hold: refused
  if (hold == StateHold::Shared)
    ::AcquireSRWLockShared(&StateLock());
  else
    ::AcquireSRWLockExclusive(&StateLock());
  taken_ = hold;
  t_held = hold;
  holds_ = true;
}

StateGuard::~StateGuard() {
  if (taken_ == StateHold::None) return;
  t_held = StateHold::None;
  if (taken_ == StateHold::Shared)
    ::ReleaseSRWLockShared(&StateLock());
  else
    ::ReleaseSRWLockExclusive(&StateLock());
}

StateHold HeldByThisThread() noexcept { return t_held; }

}  // namespace api
