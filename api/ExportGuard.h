#pragma once
// The one guard around every exported function's body. It takes the
// library-state lock shared or exclusive, answers "not initialised" where
// the export needs a loaded configuration, maps a core outcome to the
// exported code, and turns any exception into the export's failure answer:
// nothing raised inside ever reaches a caller.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <type_traits>

#include "api/ResultCodes.h"
#include "api/Session.h"
#include "core/platform/Handles.h"

namespace api {

// Process-wide reader-writer lock over the library's state. Init, Done and
// SaveConfig replace that state and take it exclusively; the other exports
// read it and take it shared, so a free-threaded caller never sees a
// half-replaced configuration. The eight core locks keep their own meaning.
SRWLOCK& StateLock();

enum class StateHold { None, Shared, Exclusive };

struct ExportRules {
  StateHold hold = StateHold::Shared;
  bool needsInit = true;  // answer notInitialised while not initialised
  std::int32_t notInitialised = API_NOT_INITIALISED;
  std::int32_t onException = API_FAILED;  // the answer when the body raised
};

// Runs body under the rules. body answers std::int32_t, core::Outcome or
// nothing (for the exports that answer nothing).
template <typename Body>
auto Guarded(const ExportRules& rules, Body&& body) noexcept {
  using Answer = std::invoke_result_t<Body&>;
  constexpr bool answersNothing = std::is_void_v<Answer>;
  try {
    std::optional<core::SharedSrwGuard> shared;
    std::optional<core::ExclusiveSrwGuard> exclusive;
    if (rules.hold == StateHold::Shared) shared.emplace(StateLock());
    if (rules.hold == StateHold::Exclusive) exclusive.emplace(StateLock());
    if constexpr (answersNothing) {
      body();
      return;
    } else {
      if (rules.needsInit && !IsInitialised()) return rules.notInitialised;
      if constexpr (std::is_same_v<Answer, core::Outcome>) {
        return ResultCode(body());
      } else {
        return static_cast<std::int32_t>(body());
      }
    }
  } catch (...) {
    if constexpr (!answersNothing) return rules.onException;
  }
}

// The rules most exports follow: shared hold, initialised library, -1 on an
// exception.
inline constexpr ExportRules Reading{};
// Exports that replace the library's state.
inline constexpr ExportRules Replacing{StateHold::Exclusive, false, API_NOT_INITIALISED, API_FAILED};

}  // namespace api
