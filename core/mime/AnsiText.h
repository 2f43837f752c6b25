#pragma once
// UTF-8 names in the 8-bit text the rest of the system holds.

#include <string>
#include <string_view>

namespace core {

// The UTF-8 text in the system's 8-bit code page (on other hosts Latin-1);
// a character the code page lacks, or a malformed sequence, becomes "?".
std::string Utf8ToAnsi(std::string_view text);

}  // namespace core
