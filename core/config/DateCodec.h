#pragma once
// Dates as the stored records and the API keep them: a floating-point count
// of days since 1899-12-30 (0 = 1899-12-30, 2 = 1900-01-01), the time of day
// as the fraction. Before 1899-12-30 the integer part is the day and the
// fraction's absolute value is the time (-1.25 = 1899-12-29 06:00).
// Proleptic Gregorian calendar, years 1 to 9999.

namespace core {

// False (and out = 0.0) when the parts do not form a date of years 1-9999.
bool EncodeDate(int year, int month, int day, double& out);

// False (and out = 0.0) unless hour < 24, minute < 60, second < 60, msec < 1000.
bool EncodeTime(int hour, int minute, int second, int msec, double& out);

// False (and all parts 0) for a value outside years 1-9999, NaN or infinite.
bool DecodeDate(double value, int& year, int& month, int& day);

// False (and all parts 0) for a value outside years 1-9999, NaN or infinite.
bool DecodeTime(double value, int& hour, int& minute, int& second, int& msec);

}  // namespace core
