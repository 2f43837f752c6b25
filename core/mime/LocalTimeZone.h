#pragma once
// The Windows source of the local time zone for core/mime/MailDate.h. The
// library start installs it: SetTimeZoneSource(&WindowsTimeZone).

#include <windows.h>

#include "core/mime/MailDate.h"

namespace core {

// GetTimeZoneInformation: the bias and which of its two parts is in force.
TimeZoneState WindowsTimeZone();

CivilTime CivilTimeOf(const SYSTEMTIME& time);

}  // namespace core
