#pragma once
// Which charsets belong to which language, for the rule files' locale tests.

#include <span>
#include <string_view>

namespace core {

struct LocaleCharsets {
  std::string_view language;  // two-letter code
  std::string_view charsets;  // names separated by single blanks; may be empty
};

// The 11 rows in their fixed order: en, ja, ko, th, zh, then ru and the
// languages that share its Cyrillic list (ka, tg, be, uk, bg).
std::span<const LocaleCharsets> LocaleCharsetTable();

}  // namespace core
