// Session and date-buffer exports.
#include <cstring>

#include "api/ExportGuard.h"
#include "api/Session.h"
#include "core/config/DateCodec.h"
#include "include/Api.h"

using namespace api;

namespace {

// Init answers -4 for anything that went wrong, and Init, Done and SaveConfig
// never look at the initialised flag.
constexpr ExportRules Starting{
    .hold = StateHold::Exclusive, .needsInit = false, .onException = API_SETTINGS_UNREADABLE};
// The notices read the state but work before initialisation too.
constexpr ExportRules Notifying{.needsInit = false, .onException = 0};
// The buffer functions touch no state at all.
constexpr ExportRules BufferOnly{.hold = StateHold::None, .needsInit = false, .onException = API_BAD_ARGUMENT};

// Only the low 16 bits of each part count, as the parts travel as 16-bit words.
int Low16(std::int32_t value) { return static_cast<std::uint16_t>(value); }

std::int32_t StoreDate(void* buffer, std::int32_t bufLen, bool ok, double value) {
  if (buffer == nullptr || bufLen < 8) return API_BAD_ARGUMENT;
  if (!ok) value = 0.0;
  std::memcpy(buffer, &value, sizeof value);
  return API_OK;
}

void Clear(std::int32_t* out) {
  if (out != nullptr) *out = 0;
}

}  // namespace

int32_t API_CALL Init(const char* path) {
  return Guarded(Starting, [&] { return InitSession(path); });
}

void API_CALL Done() {
  Guarded(Replacing, [] { DoneSession(); });
}

void API_CALL SaveConfig() {
  Guarded(Replacing, [] { SaveConfigSession(); });
}

void API_CALL UpdateConfiguration() {
  Guarded(Notifying, [] { UpdateConfigurationSession(); });
}

int32_t API_CALL ReloadServices() {
  return Guarded(Notifying, [] { return ReloadServicesSession(); });
}

int32_t API_CALL SetBufferDate(void* buffer, int32_t bufLen, int32_t year, int32_t month, int32_t day) {
  return Guarded(BufferOnly, [&] {
    double value = 0.0;
    const bool ok = core::EncodeDate(Low16(year), Low16(month), Low16(day), value);
    return StoreDate(buffer, bufLen, ok, value);
  });
}

int32_t API_CALL SetBufferTime(void* buffer, int32_t bufLen, int32_t hour, int32_t minute, int32_t second,
                               int32_t msec) {
  return Guarded(BufferOnly, [&] {
    double value = 0.0;
    const bool ok = core::EncodeTime(Low16(hour), Low16(minute), Low16(second), Low16(msec), value);
    return StoreDate(buffer, bufLen, ok, value);
  });
}

int32_t API_CALL GetBufferDate(const void* buffer, int32_t bufLen, int32_t* year, int32_t* month, int32_t* day) {
  return Guarded(BufferOnly, [&] {
    Clear(year);
    Clear(month);
    Clear(day);
    if (buffer == nullptr || bufLen < 8 || year == nullptr || month == nullptr || day == nullptr)
      return API_BAD_ARGUMENT;
    double value = 0.0;
    std::memcpy(&value, buffer, sizeof value);
    int y = 0, m = 0, d = 0;
    if (core::DecodeDate(value, y, m, d)) {
      *year = y;
      *month = m;
      *day = d;
    }
    return API_OK;
  });
}

int32_t API_CALL GetBufferTime(const void* buffer, int32_t bufLen, int32_t* hour, int32_t* minute, int32_t* second,
                               int32_t* msec) {
  return Guarded(BufferOnly, [&] {
    Clear(hour);
    Clear(minute);
    Clear(second);
    Clear(msec);
    if (buffer == nullptr || bufLen < 8 || hour == nullptr || minute == nullptr || second == nullptr || msec == nullptr)
      return API_BAD_ARGUMENT;
    double value = 0.0;
    std::memcpy(&value, buffer, sizeof value);
    int h = 0, mi = 0, s = 0, ms = 0;
    if (core::DecodeTime(value, h, mi, s, ms)) {
      *hour = h;
      *minute = mi;
      *second = s;
      *msec = ms;
    }
    return API_OK;
  });
}
