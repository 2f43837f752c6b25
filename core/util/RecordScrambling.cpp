#include "core/util/RecordScrambling.h"

#include <cstring>

namespace core {

namespace {

constexpr std::size_t KeySize = RecordScrambleKey.size();

// XORs 8 bytes at once; memcpy keeps it free of alignment and aliasing traps.
inline void XorWord(std::uint8_t* bytes, const std::uint8_t* key) {
  std::uint64_t data;
  std::uint64_t mask;
  std::memcpy(&data, bytes, sizeof data);
  std::memcpy(&mask, key, sizeof mask);
  data ^= mask;
  std::memcpy(bytes, &data, sizeof data);
}

}  // namespace

void ScrambleBuffer(void* buffer, std::ptrdiff_t length, std::ptrdiff_t start) {
  if (buffer == nullptr || length <= 0) return;
  auto* bytes = static_cast<std::uint8_t*>(buffer);
  const std::size_t count = static_cast<std::size_t>(length);
  const std::size_t index = start < 0 ? 0 : static_cast<std::size_t>(start) % KeySize;

  // The key rotated so that its first byte is the one the buffer starts with:
  // every 16-byte block of the buffer then takes the rotated key as it is.
  std::uint8_t rotated[KeySize];
  for (std::size_t k = 0; k < KeySize; ++k)
    rotated[k] = RecordScrambleKey[(index + k) % KeySize];

  std::size_t i = 0;
  for (; count - i >= KeySize; i += KeySize) {
    XorWord(bytes + i, rotated);
    XorWord(bytes + i + 8, rotated + 8);
  }
  for (std::size_t k = 0; i < count; ++i, ++k)
    bytes[i] = static_cast<std::uint8_t>(bytes[i] ^ rotated[k]);
}

}  // namespace core
