// Encoded-word decoding: never longer than its input, never a CR, LF or NUL.
// Byte 0: keepUnderscores; rest: the header value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/mime/HeaderText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string out = core::DecodeHeaderText(text, (data[0] & 1) != 0);
  if (out.size() > text.size()) std::abort();
  if (out.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) std::abort();
  return 0;
}
