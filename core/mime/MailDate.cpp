#include "core/mime/MailDate.h"

#include <atomic>
#include <cstdio>

namespace core {

namespace {

std::atomic<TimeZoneSource> g_timeZoneSource{nullptr};

constexpr const char* DayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool IsLeapYear(long long year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(long long year, int month) {
  constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : Days[month - 1];
}

}  // namespace

int DayOfWeek(long long year, int month, int day) {
  if (month < 3) year -= 1;
  const long long era = (year >= 0 ? year : year - 399) / 400;
  const long long yearOfEra = year - era * 400;
  const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const long long days = era * 146097 + dayOfEra - 719468;  // days since 1970-01-01, a Thursday
  const long long weekday = (days + 4) % 7;
  return static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
}

void SetTimeZoneSource(TimeZoneSource source) { g_timeZoneSource.store(source); }

std::int32_t GetTimeZoneBias() {
  const TimeZoneSource source = g_timeZoneSource.load();
  if (source == nullptr) return 0;
  const TimeZoneState zone = source();
  if (zone.kind == TimeZoneState::Standard) return zone.bias + zone.standardBias;
  if (zone.kind == TimeZoneState::Daylight) return zone.bias + zone.daylightBias;
  return zone.bias;
}

std::string TimeZoneText(std::int32_t bias) {
  const long long minutes = bias < 0 ? -static_cast<long long>(bias) : bias;
  char text[32];
  std::snprintf(text, sizeof text, "%c%02lld%02lld", bias < 0 ? '+' : '-', minutes / 60, minutes % 60);
  return text;
}

std::string GetTimeZoneText() { return TimeZoneText(GetTimeZoneBias()); }

std::string FormatRFC822Date(const CivilTime& time, bool withoutZone, std::string_view zoneText) {
  if (time.month < 1 || time.month > 12 || time.day < 1 || time.day > DaysInMonth(time.year, time.month)) return {};
  char text[96];
  std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d",
                DayNames[DayOfWeek(time.year, time.month, time.day)], time.day, MonthNames[time.month - 1], time.year,
                time.hour, time.minute, time.second);
  std::string result = text;
  if (!withoutZone) {
    result.push_back(' ');
    result.append(zoneText.empty() ? GetTimeZoneText() : std::string(zoneText));
  }
  return result;
}

}  // namespace core
