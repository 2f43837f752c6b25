#include "core/mime/LocalTimeZone.h"

namespace core {

TimeZoneState WindowsTimeZone() {
  TIME_ZONE_INFORMATION information{};
  const DWORD id = ::GetTimeZoneInformation(&information);
  TimeZoneState zone;
  if (id == TIME_ZONE_ID_INVALID) return zone;
  zone.bias = information.Bias;
  zone.standardBias = information.StandardBias;
  zone.daylightBias = information.DaylightBias;
  if (id == TIME_ZONE_ID_STANDARD) zone.kind = TimeZoneState::Standard;
  if (id == TIME_ZONE_ID_DAYLIGHT) zone.kind = TimeZoneState::Daylight;
  return zone;
}

CivilTime CivilTimeOf(const SYSTEMTIME& time) {
  return CivilTime{time.wYear, time.wMonth, time.wDay, time.wHour, time.wMinute, time.wSecond};
}

std::string FormatLocalRFC822Date(const SYSTEMTIME& local, bool withoutZone) {
  return FormatRFC822Date(CivilTimeOf(local), withoutZone, {});
}

std::string GetRFC822DateNow(bool withoutZone) {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return FormatLocalRFC822Date(now, withoutZone);
}

}  // namespace core
