// uuencode begin lines: a found name is short, not empty and has no blank.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "core/mime/TransferCodecs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view line(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> name = core::ParseUUBeginLine(line);
  if (!name) return 0;
  if (name->empty() || name->size() > 255 || name->find(' ') != std::string::npos) std::abort();
  if (line.size() <= 10) std::abort();
  return 0;
}
