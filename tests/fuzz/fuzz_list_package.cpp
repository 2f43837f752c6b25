// Lists random archive images. Every line must be one entry that lies
// inside the image: a name of at most 255 bytes with no byte below 32, ";",
// and a decimal stored length, ended by CR LF; the lengths together stay
// within the image, and each entry takes at least 5 bytes of it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/archive/ArchiveFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  core::MemoryArchiveInput input(data, size);
  const std::string listing = core::ListPackage(input);
  std::uint64_t lengths = 0, lines = 0;
  for (std::size_t at = 0; at < listing.size();) {
    const std::size_t end = listing.find("\r\n", at);
    if (end == std::string::npos) std::abort();
    const std::string line = listing.substr(at, end - at);
    const std::size_t semicolon = line.rfind(';');
    if (semicolon == std::string::npos || semicolon > core::kMaxEntryNameLength || semicolon + 1 == line.size() ||
        line.size() - semicolon > 11) {
      std::abort();
    }
    for (char c : line)
      if (static_cast<unsigned char>(c) < 32) std::abort();
    std::uint64_t length = 0;
    for (std::size_t i = semicolon + 1; i < line.size(); ++i) {
      if (line[i] < '0' || line[i] > '9') std::abort();
      length = length * 10 + static_cast<std::uint64_t>(line[i] - '0');
    }
    lengths += length;
    ++lines;
    at = end + 2;
  }
  if (lengths > size || lines * 5 > size) std::abort();
  return 0;
}
