#pragma once
// Dates as the stored records and the API keep them: a floating-point count
// of days since 1899-12-30 (0 = 1899-12-30, 2 = 1900-01-01), the time of day
// as the fraction. Before 1899-12-30 the integer part is the day and the
// fraction's absolute value is the time (-1.25 = 1899-12-29 06:00).
// Proleptic Gregorian calendar, years 1 to 9999.

#include <string>
#include <string_view>

namespace core {

// False (and out = 0.0) when the parts do not form a date of years 1-9999.
bool EncodeDate(int year, int month, int day, double& out);

// False (and out = 0.0) unless hour < 24, minute < 60, second < 60, msec < 1000.
bool EncodeTime(int hour, int minute, int second, int msec, double& out);

// False (and all parts 0) for a value outside years 1-9999, NaN or infinite.
bool DecodeDate(double value, int& year, int& month, int& day);

// False (and all parts 0) for a value outside years 1-9999, NaN or infinite.
bool DecodeTime(double value, int& hour, int& minute, int& second, int& msec);

// The statistics report's dates: "yyyy/mm/dd" (items trimmed, read as
// integers) to a date, 0 for anything that is no valid date; and back, with
// month and day of two digits, empty for a date that cannot be decoded or,
// with emptyForZero, for 0.
double ParseStatDate(std::string_view text);
std::string FormatStatDate(bool emptyForZero, double date);

}  // namespace core
