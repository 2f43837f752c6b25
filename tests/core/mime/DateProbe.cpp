// Prints the local zone and date texts for check_dates.py, which runs it
// under Wine with several TZ values and checks them with Python.
#include <windows.h>

#include <cstdio>

#include "core/mime/LocalTimeZone.h"

int main() {
  core::SetTimeZoneSource(&core::WindowsTimeZone);
  SYSTEMTIME local;
  ::GetLocalTime(&local);
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  std::printf("bias=%ld\n", static_cast<long>(core::GetTimeZoneBias()));
  std::printf("zone=%s\n", core::GetTimeZoneText().c_str());
  std::printf("now=%s\n", core::GetRFC822DateNow(false).c_str());
  std::printf("epoch=%llu\n", ticks / 10000000ull - 11644473600ull);
  std::printf("winter=%s\n", core::FormatRFC822Date({2024, 1, 15, 8, 30, 0}, false, "").c_str());
  std::printf("summer=%s\n", core::FormatRFC822Date({2024, 7, 15, 8, 30, 0}, false, "").c_str());
  return 0;
}
