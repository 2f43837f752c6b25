// Prints the date variables for a pinned clock, Sunday 2003-01-05
// 09:04:07.089, in the region of the prefix it runs in, one "key=value"
// line each, for check_dates.py.
#include <windows.h>

#include <cstdio>

#include "core/startup/LibraryStart.h"
#include "core/variables/SystemVariables.h"

int main() {
  core::StartLibraryUnits({});
  core::SetVariableClock([] { return core::LocalTime{2003, 1, 5, 9, 4, 7, 89}; });
  core::MessageContext context;
  context.bayesProbability = 8750;
  const char* const lines[][2] = {
      {"date", "%%Date%%"},
      {"time", "%%Time%%"},
      {"rfc822", "%%RFC822_Date%%"},
      {"percentage", "%%SpamPercentage%%"},
      {"short", "%%FormatDateTimeddddd%%"},
      {"long", "%%FormatDateTimedddddd%%"},
      {"t", "%%FormatDateTimet%%"},
      {"tt", "%%FormatDateTimett%%"},
      {"c", "%%FormatDateTimec%%"},
      {"separators", "%%FormatDateTime/:%%"},
      {"names", "%%FormatDateTimeddd|dddd|mmm|mmmm%%"},
      {"ampm", "%%FormatDateTimeampm h|hh am/pm%%"},
      {"numbers", "%%FormatDateTimed.dd.m.mm.yy.yyyy.h.hh.n.nn.s.ss.z.zzz%%"},
  };
  for (const auto& line : lines)
    std::printf("%s=%s\n", line[0], core::ExpandSystemVariablesText(context, line[1]).c_str());
  core::StopLibraryUnits();
  return 0;
}
