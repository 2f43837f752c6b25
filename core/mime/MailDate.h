#pragma once
// RFC 822 date texts with the local time zone. The zone comes from a
// replaceable source: the Windows build installs the system's
// (core/mime/LocalTimeZone.h), tests install their own; without one the
// zone is UTC.

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// What the platform reports about the local time zone, in minutes
// (local time + bias = UTC, so east of UTC is negative).
struct TimeZoneState {
  enum Kind { Unknown, Standard, Daylight };
  std::int32_t bias = 0;
  std::int32_t standardBias = 0;
  std::int32_t daylightBias = 0;
  Kind kind = Unknown;
};

using TimeZoneSource = TimeZoneState (*)();

// nullptr restores UTC.
void SetTimeZoneSource(TimeZoneSource source);

// The bias, plus the standard bias in standard time or the daylight bias in
// daylight time.
std::int32_t GetTimeZoneBias();

// "+hhmm" east of UTC, else "-hhmm": a zero bias gives "-0000".
std::string TimeZoneText(std::int32_t bias);
std::string GetTimeZoneText();

// 0 Sunday ... 6 Saturday, for any date of the proleptic Gregorian calendar
// (month 1-12).
int DayOfWeek(long long year, int month, int day);

// A calendar time (month 1-12).
struct CivilTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// "Sun, 05 Jan 2003 09:04:07" and, unless withoutZone, a blank and the zone
// text (GetTimeZoneText when it is empty). The day name is that of the date.
// Empty for a month or day outside the calendar.
std::string FormatRFC822Date(const CivilTime& time, bool withoutZone, std::string_view zoneText);

}  // namespace core
