#include "core/config/DateCodec.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

#include "core/util/Numbers.h"
#include "core/util/Text.h"

namespace core {

namespace {

constexpr std::int64_t MsecPerDay = 86'400'000;
// Day numbers of 0001-01-01 and 9999-12-31 counted from 1899-12-30.
constexpr std::int64_t FirstDay = -693'593;
constexpr std::int64_t LastDay = 2'958'465;

bool IsLeap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(std::int64_t y, int m) {
  static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days from 1970-01-01 of a civil date and back (era arithmetic over 400-year
// cycles of 146,097 days, the year taken to start in March).
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146'097 + doe - 719'468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719'468;
  const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const std::int64_t doe = z - era * 146'097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36'524 - doe / 146'096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

// 1970-01-01 is day 25,569 of the stored count.
constexpr std::int64_t UnixEpochDay = 25'569;

// The value rounded to milliseconds: the day (integer part, towards zero) and
// the time of day from the fraction's absolute value.
bool Split(double value, std::int64_t& dayNumber, std::int64_t& msecOfDay) {
  if (!std::isfinite(value)) return false;
  if (value < static_cast<double>(FirstDay - 1) || value > static_cast<double>(LastDay + 1)) return false;
  const std::int64_t total = std::llround(value * static_cast<double>(MsecPerDay));
  dayNumber = total / MsecPerDay;
  msecOfDay = (total < 0 ? -total : total) % MsecPerDay;
  return dayNumber >= FirstDay && dayNumber <= LastDay;
}

}  // namespace

bool EncodeDate(int year, int month, int day, double& out) {
  out = 0.0;
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  out = static_cast<double>(DaysFromCivil(year, month, day) + UnixEpochDay);
  return true;
}

bool EncodeTime(int hour, int minute, int second, int msec, double& out) {
  out = 0.0;
  if (hour < 0 || hour >= 24 || minute < 0 || minute >= 60 || second < 0 || second >= 60 || msec < 0 || msec >= 1000) {
    return false;
  }
  const std::int64_t ms = ((static_cast<std::int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + msec;
  out = static_cast<double>(ms) / static_cast<double>(MsecPerDay);
  return true;
}

bool DecodeDate(double value, int& year, int& month, int& day) {
  year = month = day = 0;
  std::int64_t dayNumber = 0;
  std::int64_t msecOfDay = 0;
  if (!Split(value, dayNumber, msecOfDay)) return false;
  CivilFromDays(dayNumber - UnixEpochDay, year, month, day);
  return true;
}

bool DecodeTime(double value, int& hour, int& minute, int& second, int& msec) {
  hour = minute = second = msec = 0;
  std::int64_t dayNumber = 0;
  std::int64_t msecOfDay = 0;
  if (!Split(value, dayNumber, msecOfDay)) return false;
  hour = static_cast<int>(msecOfDay / 3'600'000);
  minute = static_cast<int>(msecOfDay / 60'000 % 60);
  second = static_cast<int>(msecOfDay / 1000 % 60);
  msec = static_cast<int>(msecOfDay % 1000);
  return true;
}

double ParseStatDate(std::string_view text) {
  int parts[3] = {};
  for (int i = 0; i < 3; ++i) {
    parts[i] = static_cast<int>(TextToInt(Trim(GetDelimitedItem(text, i, '/'))));
  }
  double date = 0.0;
  return EncodeDate(parts[0], parts[1], parts[2], date) ? date : 0.0;
}

std::string FormatStatDate(bool emptyForZero, double date) {
  if (date == 0.0 && emptyForZero) return {};
  int year = 0, month = 0, day = 0;
  if (!DecodeDate(date, year, month, day)) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%d/%02d/%02d", year, month, day);
  return text;
}

}  // namespace core
