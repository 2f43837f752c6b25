#pragma once
// The Windows source of the local time zone for core/mime/MailDate.h. The
// library start installs it: SetTimeZoneSource(&WindowsTimeZone).

#include <windows.h>

#include "core/mime/MailDate.h"

namespace core {

// GetTimeZoneInformation: the bias and which of its two parts is in force.
TimeZoneState WindowsTimeZone();

CivilTime CivilTimeOf(const SYSTEMTIME& time);

// The RFC 822 date of a local time, or of now, followed by the library's
// own time-zone text; the administration library sets none, so the local
// zone's offset follows instead (unless withoutZone).
std::string FormatLocalRFC822Date(const SYSTEMTIME& local, bool withoutZone);
std::string GetRFC822DateNow(bool withoutZone);

}  // namespace core
