#pragma once
// The one place where the core's outcomes become the exported result codes
// of include/Api.h.
#include <cstdint>

#include "core/util/Status.h"
#include "include/Api.h"

namespace api {

constexpr std::int32_t ResultCode(core::Status status) {
  switch (status) {
    case core::Status::Ok:
      return API_OK;
    case core::Status::Failed:
    case core::Status::NotFound:
      return API_FAILED;
    case core::Status::BadArgument:
      return API_BAD_ARGUMENT;
    case core::Status::Unreadable:
      return API_SETTINGS_UNREADABLE;
    case core::Status::NotInitialised:
      return API_NOT_INITIALISED;
  }
  return API_FAILED;
}

// A count, index or byte count as it is; a failure as its code.
constexpr std::int32_t ResultCode(core::Outcome outcome) {
  return outcome.ok() ? outcome.value : ResultCode(outcome.status);
}

}  // namespace api
