#pragma once
// Process-wide reader-writer lock over the library's state. Init, Done and
// SaveConfig replace that state and take it exclusively; every other export
// reads it and takes it shared, so a free-threaded caller never sees a
// half-replaced configuration. The eight core locks keep their own meaning.
#include <windows.h>

namespace api {

SRWLOCK& StateLock();

class SharedStateGuard {
 public:
  SharedStateGuard() { AcquireSRWLockShared(&StateLock()); }
  ~SharedStateGuard() { ReleaseSRWLockShared(&StateLock()); }
  SharedStateGuard(const SharedStateGuard&) = delete;
  SharedStateGuard& operator=(const SharedStateGuard&) = delete;
};

class ExclusiveStateGuard {
 public:
  ExclusiveStateGuard() { AcquireSRWLockExclusive(&StateLock()); }
  ~ExclusiveStateGuard() { ReleaseSRWLockExclusive(&StateLock()); }
  ExclusiveStateGuard(const ExclusiveStateGuard&) = delete;
  ExclusiveStateGuard& operator=(const ExclusiveStateGuard&) = delete;
};

}  // namespace api
