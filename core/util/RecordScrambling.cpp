#include "core/util/RecordScrambling.h"

namespace core {

void ScrambleBuffer(void* buffer, std::ptrdiff_t length, std::ptrdiff_t start) {
  if (buffer == nullptr || length <= 0) return;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  std::size_t index = start < 0 ? 0 : static_cast<std::size_t>(start) % RecordScrambleKey.size();
  for (std::ptrdiff_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ RecordScrambleKey[index]);
    index = (index + 1) % RecordScrambleKey.size();
  }
}

}  // namespace core
