#pragma once
// Result codes shared by every export of the library.
#include <cstdint>

namespace api {

constexpr std::int32_t ResultOk = 0;
constexpr std::int32_t ResultFailed = -1;
constexpr std::int32_t ResultBadArgument = -3;
constexpr std::int32_t ResultSettingsUnreadable = -4;
constexpr std::int32_t ResultNotInitialised = -5;

}  // namespace api
