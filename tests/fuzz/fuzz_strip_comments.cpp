// Comment stripping of configuration lines. Byte 0 picks the marker length
// (1-3) for CutAtCommentMarker; the marker is taken from the following bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/util/NameText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view all(reinterpret_cast<const char*>(data), size);

  const std::string_view line = all.substr(1);
  const std::string stripped = core::StripComments(line);
  if (stripped.size() > line.size()) std::abort();
  const bool hasMarker = line.find('#') != std::string_view::npos || line.find("// ") != std::string_view::npos ||
                         line.find("/*") != std::string_view::npos;
  if (!hasMarker && stripped != line) std::abort();

  const std::size_t markerLength = 1 + data[0] % 3;
  if (line.size() < markerLength) return 0;
  const std::string marker(line.substr(0, markerLength));
  std::string text(line.substr(markerLength));
  const std::string before = text;
  core::CutAtCommentMarker(text, marker);
  if (text.size() > before.size()) std::abort();
  if (before.find(marker) == std::string::npos && text != before) std::abort();
  return 0;
}
