#pragma once
// The one guard around every exported function's body. It holds the library
// state shared or exclusive (api/StateGuard.h), answers "not initialised"
// where the export needs a loaded configuration, maps a core outcome to the
// exported code, and runs the body inside the boundary of every outside
// entry point (core/platform/Boundary.h): any exception, C++ or structured,
// becomes the export's failure answer and never reaches a caller. The hold
// is taken outside the boundary, so it is released however the body ended.
#include <cstdint>
#include <type_traits>

#include "api/ResultCodes.h"
#include "api/Session.h"
#include "api/StateGuard.h"
#include "core/platform/Boundary.h"

namespace api {

struct ExportRules {
  StateHold hold = StateHold::Shared;
  bool needsInit = true;  // answer notInitialised while not initialised
  std::int32_t notInitialised = API_NOT_INITIALISED;
  // The answer when the body raised, or when the hold cannot be had (an
  // exclusive hold asked for under a shared one of the same thread).
  std::int32_t onException = API_FAILED;
};

// Runs body under the rules. body answers std::int32_t, core::Outcome or
// nothing (for the exports that answer nothing).
template <typename Body>
auto Guarded(const ExportRules& rules, Body&& body) noexcept {
  using Answer = std::invoke_result_t<Body&>;
  const StateGuard hold(rules.hold);
  if constexpr (std::is_void_v<Answer>) {
    if (hold.holds()) core::AtBoundary(body);
  } else {
    if (!hold.holds()) return rules.onException;
    return core::AtBoundary(rules.onException, [&]() -> std::int32_t {
      if (rules.needsInit && !IsInitialised()) return rules.notInitialised;
      if constexpr (std::is_same_v<Answer, core::Outcome>) {
        return ResultCode(body());
      } else {
        return static_cast<std::int32_t>(body());
      }
    });
  }
}

// The rules most exports follow: shared hold, initialised library, -1 on an
// exception.
inline constexpr ExportRules Reading{};
// Exports that replace the library's state.
inline constexpr ExportRules Replacing{.hold = StateHold::Exclusive, .needsInit = false};

}  // namespace api
