#pragma once
// The date-time format language of "%%FormatDateTime" (README: "Date and
// time formats"). Letters in any case, the longest token first:
//   d dd          day of the month, 2 digits for dd
//   ddd dddd      abbreviated and full day name
//   ddddd dddddd  short and long date of the region
//   m mm          month (minutes when the last token before was h or hh)
//   mmm mmmm      abbreviated and full month name
//   yy yyyy       year in 2 and 4 digits
//   h hh          hour (12-hour when an am/pm token stands in the format)
//   n nn, s ss    minutes, seconds
//   z zzz         milliseconds, 3 digits for zzz
//   t tt          short and long time of the region
//   am/pm a/p     morning or afternoon in the letters as written
//   ampm          the region's designators
//   / :           the region's date and time separators
//   "x" 'x'       quoted text as it stands
//   c             short date, a blank and long time (no time at midnight)
// Every other character is copied.
#include <string>
#include <string_view>

#include "core/variables/VariableEnvironment.h"

namespace core {

std::string FormatDateTime(std::string_view format, const LocalTime& time, DateLocale& locale);

}  // namespace core
