#pragma once
// The XOR scrambling of stored records (settings, domain, account and
// remote-account records). Each byte is combined with one byte of a fixed
// 16-byte key chosen by the byte's position in its record, so the same call
// scrambles and unscrambles.

#include <array>
#include <cstddef>
#include <cstdint>

namespace core {

inline constexpr std::array<std::uint8_t, 16> RecordScrambleKey = {0x3C, 0x91, 0xE0, 0x7A, 0x55, 0xD2, 0x18, 0x8B,
                                                                   0xF4, 0x6A, 0x0D, 0x27, 0xC3, 0xB9, 0xE1, 0x50};

// XORs byte i of the buffer with key[(start + i) mod 16]. Records start at 0;
// a record that continues another file's count starts where that count
// stands (the old domain list inside the settings file starts at 8).
// length <= 0 does nothing; a negative start counts as 0.
void ScrambleBuffer(void* buffer, std::ptrdiff_t length, std::ptrdiff_t start);

}  // namespace core
