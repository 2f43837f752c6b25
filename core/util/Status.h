#pragma once
// How a core operation ended, for the operations whose callers need more
// than true or false. The administration library maps these to its result
// codes in one place (api/ResultCodes.h); core never uses those numbers.
#include <cstdint>

namespace core {

enum class Status : std::uint8_t {
  Ok,
  Failed,          // the operation did not succeed
  NotFound,        // no such record, name or setting id
  BadArgument,     // a buffer too small, an index out of range, an unusable argument
  Unreadable,      // stored data exists but could not be read
  NotInitialised,  // the library has no configuration loaded
};

// A count, index or byte count when ok, else the reason.
struct Outcome {
  Status status = Status::Ok;
  std::int32_t value = 0;

  static constexpr Outcome Of(std::int32_t value) { return {Status::Ok, value}; }
  static constexpr Outcome Fail(Status status) { return {status, 0}; }
  constexpr bool ok() const { return status == Status::Ok; }
};

}  // namespace core
