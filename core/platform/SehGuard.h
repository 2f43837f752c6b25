#pragma once
// Runs a piece of code so that a structured exception raised inside it (an
// access violation, RaiseException, a foreign library's own exceptions) ends
// that piece only and never reaches the caller.
#include <cstdint>

namespace core {

// Calls body(context) under a structured-exception frame of its own. True when
// body returned; false when an exception left it, with its code in
// *exceptionCode (when given). The frames that body left behind are unwound,
// but C++ destructors of those frames do not run: body must own nothing that
// needs cleaning up (hand results out through the context).
bool RunGuarded(void (*body)(void*), void* context, std::uint32_t* exceptionCode = nullptr) noexcept;

// Same for any callable without arguments.
template <typename Body>
bool RunGuardedCall(Body& body, std::uint32_t* exceptionCode = nullptr) noexcept {
  return RunGuarded([](void* p) { (*static_cast<Body*>(p))(); }, &body, exceptionCode);
}

}  // namespace core
