// "strings.dat" of any content: every entry has a key without a line end,
// and no decoded text is longer than the longest line it could come from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/texts/MessageTexts.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::size_t longest = 0;
  for (std::size_t start = 0; start <= size;) {
    std::size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = size;
    if (end - start > longest) longest = end - start;
    start = end + 1;
  }
  const auto entries = core::ParseStringsText(bytes);
  for (const core::StringsEntry& entry : entries) {
    if (entry.key.empty() || entry.key.find_first_of("\r\n=") != std::string::npos) std::abort();
    if (entry.text.size() > longest) std::abort();
  }
  core::ApplyStringsEntries(entries);
  return 0;
}
