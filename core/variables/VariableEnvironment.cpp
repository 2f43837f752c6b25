#include "core/variables/VariableEnvironment.h"

namespace core {

int DayOfWeek(const LocalTime& time) {
  // Days from 1970-01-01 (a Thursday) of the civil date.
  const long long y = static_cast<long long>(time.year) - (time.month <= 2 ? 1 : 0);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long m = time.month;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + time.day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = era * 146097 + doe - 719468;
  const long long weekday = (days + 4) % 7;
  return static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
}

}  // namespace core
