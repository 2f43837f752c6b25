#pragma once
// Character tests used by the XML escaping of the sending side.

#include <string_view>

namespace core {

// True when some character's code is 128 or above.
bool ContainsHighChars(std::string_view text);

}  // namespace core
