#pragma once
// The one boundary every entry point called from outside runs its body in
// (the exports of each library, the database back end's entry points, COM
// methods): the body's answer, or the entry point's failure value when
// anything ended the body early, a C++ exception or a structured one (an
// access violation, RaiseException). Nothing raised inside ever reaches a
// caller.
//
// C++ exceptions unwind the body as usual. A structured exception unwinds
// its frames without their C++ destructors on the 32-bit build
// (core/platform/SehGuard.h): hold locks that must always be released
// outside the boundary, as the guards of the exports do.
#include <cstdint>
#include <new>
#include <stdexcept>
#include <type_traits>

#include "core/platform/SehGuard.h"

namespace core {

// What ended a body run at the boundary.
enum class BoundaryFault : std::uint8_t {
  None,         // the body returned
  OutOfMemory,  // std::bad_alloc
  Standard,     // another std::exception
  Unknown,      // any other C++ exception
  Structured,   // a structured exception; its code goes to *code
};

// Runs body() and tells how it ended; never raises.
template <typename Body>
BoundaryFault RunAtBoundary(Body& body, std::uint32_t* code = nullptr) noexcept {
  BoundaryFault fault = BoundaryFault::None;
  // C++ exceptions are caught inside the structured guard, so that the
  // guard only ever sees what no catch can take.
  auto caught = [&] {
    try {
      body();
    } catch (const std::bad_alloc&) {
      fault = BoundaryFault::OutOfMemory;
    } catch (const std::exception&) {
      fault = BoundaryFault::Standard;
    } catch (...) {
      fault = BoundaryFault::Unknown;
    }
  };
  if (!RunGuardedCall(caught, code)) return BoundaryFault::Structured;
  if (code != nullptr) *code = 0;
  return fault;
}

// body's answer, or failure when anything ended it early.
template <typename Answer, typename Body>
Answer AtBoundary(Answer failure, Body&& body) noexcept {
  Answer answer = failure;
  auto run = [&] { answer = body(); };
  if (RunAtBoundary(run) != BoundaryFault::None) return failure;
  return answer;
}

// For entry points that answer nothing: whatever ends body stays inside.
template <typename Body>
void AtBoundary(Body&& body) noexcept {
  auto run = [&] { body(); };
  RunAtBoundary(run);
}

}  // namespace core
