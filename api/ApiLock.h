#pragma once
// Process-wide reader-writer lock over the library's state. Init, Done and
// SaveConfig replace that state and take it exclusively; every other export
// reads it and takes it shared, so a free-threaded caller never sees a
// half-replaced configuration. The eight core locks keep their own meaning.
#include <windows.h>

#include "core/platform/SrwGuard.h"

namespace api {

SRWLOCK& StateLock();

class SharedStateGuard : core::SharedSrwGuard {
 public:
  SharedStateGuard() : SharedSrwGuard(StateLock()) {}
};

class ExclusiveStateGuard : core::ExclusiveSrwGuard {
 public:
  ExclusiveStateGuard() : ExclusiveSrwGuard(StateLock()) {}
};

}  // namespace api
