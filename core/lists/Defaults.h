#pragma once
// The defaults a new account or domain takes from "default.ini": lines of a
// key, "=" and a value; keys matched without regard to case, blanks around
// the first "=" removed, numbers read as integers (0 when not a number).
// Pure over the file's lines; the Windows part reads the file.
#include <cstdint>
#include <string>
#include <vector>

namespace core {

// Zeroes the record (an account record when isAccount, else a domain
// record) and applies every key of the lines that names one of its fields,
// later lines over earlier ones.
void ApplyDefaultLines(bool isAccount, std::uint8_t* record, const std::vector<std::string>& lines);

// The value of "DomainAdminRights=" in the lines (the last one given), at
// most 255 characters; empty when none.
std::string DomainAdminRightsOf(const std::vector<std::string>& lines);

}  // namespace core
