#pragma once
// Path texts with "\" as separator.

#include <string>
#include <string_view>

namespace core {

// An empty path stays empty. Otherwise "/" becomes "\" when
// slashesToBackslashes is set, and the path ends with exactly the trailing
// "\" it had or got, removed again when keepTrailingBackslash is false.
std::string NormalizePath(std::string_view path, bool keepTrailingBackslash, bool slashesToBackslashes);

}  // namespace core
