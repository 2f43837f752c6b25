// Session and date-buffer exports. Every export catches everything at the
// boundary: nothing raised inside ever reaches the caller.
#include <cstring>

#include "api/ApiLock.h"
#include "api/Exports.h"
#include "api/ResultCodes.h"
#include "api/Session.h"
#include "core/config/DateCodec.h"

using namespace api;

API_EXPORT std::int32_t Init(const char* path) {
  try {
    ExclusiveStateGuard guard;
    return InitSession(path);
  } catch (...) {
    return ResultSettingsUnreadable;
  }
}

API_EXPORT void Done() {
  try {
    ExclusiveStateGuard guard;
    DoneSession();
  } catch (...) {
  }
}

API_EXPORT void SaveConfig() {
  try {
    ExclusiveStateGuard guard;
    SaveConfigSession();
  } catch (...) {
  }
}

API_EXPORT void UpdateConfiguration() {
  try {
    SharedStateGuard guard;
    UpdateConfigurationSession();
  } catch (...) {
  }
}

API_EXPORT std::int32_t ReloadServices() {
  try {
    SharedStateGuard guard;
    return ReloadServicesSession();
  } catch (...) {
    return 0;
  }
}

namespace {

// Only the low 16 bits of each part count, as the parts travel as 16-bit words.
int Low16(std::int32_t value) { return static_cast<std::uint16_t>(value); }

std::int32_t StoreDate(void* buffer, std::int32_t bufLen, bool ok, double value) {
  if (buffer == nullptr || bufLen < 8) return ResultBadArgument;
  if (!ok) value = 0.0;
  std::memcpy(buffer, &value, sizeof value);
  return ResultOk;
}

void Clear(std::int32_t* out) {
  if (out != nullptr) *out = 0;
}

}  // namespace

API_EXPORT std::int32_t SetBufferDate(void* buffer, std::int32_t bufLen, std::int32_t year, std::int32_t month,
                                      std::int32_t day) {
  try {
    double value = 0.0;
    bool ok = core::EncodeDate(Low16(year), Low16(month), Low16(day), value);
    return StoreDate(buffer, bufLen, ok, value);
  } catch (...) {
    return ResultBadArgument;
  }
}

API_EXPORT std::int32_t SetBufferTime(void* buffer, std::int32_t bufLen, std::int32_t hour, std::int32_t minute,
                                      std::int32_t second, std::int32_t msec) {
  try {
    double value = 0.0;
    bool ok = core::EncodeTime(Low16(hour), Low16(minute), Low16(second), Low16(msec), value);
    return StoreDate(buffer, bufLen, ok, value);
  } catch (...) {
    return ResultBadArgument;
  }
}

API_EXPORT std::int32_t GetBufferDate(const void* buffer, std::int32_t bufLen, std::int32_t* year, std::int32_t* month,
                                      std::int32_t* day) {
  try {
    Clear(year);
    Clear(month);
    Clear(day);
    if (buffer == nullptr || bufLen < 8 || year == nullptr || month == nullptr || day == nullptr)
      return ResultBadArgument;
    double value = 0.0;
    std::memcpy(&value, buffer, sizeof value);
    int y = 0, m = 0, d = 0;
    if (core::DecodeDate(value, y, m, d)) {
      *year = y;
      *month = m;
      *day = d;
    }
    return ResultOk;
  } catch (...) {
    return ResultBadArgument;
  }
}

API_EXPORT std::int32_t GetBufferTime(const void* buffer, std::int32_t bufLen, std::int32_t* hour, std::int32_t* minute,
                                      std::int32_t* second, std::int32_t* msec) {
  try {
    Clear(hour);
    Clear(minute);
    Clear(second);
    Clear(msec);
    if (buffer == nullptr || bufLen < 8 || hour == nullptr || minute == nullptr || second == nullptr || msec == nullptr)
      return ResultBadArgument;
    double value = 0.0;
    std::memcpy(&value, buffer, sizeof value);
    int h = 0, mi = 0, s = 0, ms = 0;
    if (core::DecodeTime(value, h, mi, s, ms)) {
      *hour = h;
      *minute = mi;
      *second = s;
      *msec = ms;
    }
    return ResultOk;
  } catch (...) {
    return ResultBadArgument;
  }
}
