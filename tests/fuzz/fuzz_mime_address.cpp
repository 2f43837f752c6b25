// Address extraction: bracketed or bare, never a CR, LF or NUL, never longer
// than the text and its two brackets. Byte 0: withoutBrackets; rest: the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/mime/HeaderText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool bare = (data[0] & 1) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string out = core::ExtractEmailAddress(text, bare);
  if (out.size() > text.size() + 2) std::abort();
  if (out.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) std::abort();
  if (text.find('<') != std::string_view::npos) {
    const std::string bracketed = core::ExtractEmailAddress(text, false);
    if (bracketed.front() != '<' || bracketed.back() != '>') std::abort();
  }
  return 0;
}
