#pragma once
// The one pair of little-endian load and store helpers for stored records,
// control requests and archive headers: bytes in, value out, whatever the
// processor's own order and alignment.
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace core {

// The unsigned value of sizeof(T) bytes at bytes, lowest byte first.
template <typename T>
constexpr T LoadLE(const std::uint8_t* bytes) noexcept {
  static_assert(std::is_unsigned_v<T>);
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    value = static_cast<T>(value | (static_cast<T>(bytes[i]) << (8 * i)));
  return value;
}

// Stores sizeof(T) bytes of value at bytes, lowest byte first.
template <typename T>
constexpr void StoreLE(std::uint8_t* bytes, T value) noexcept {
  static_assert(std::is_unsigned_v<T>);
  for (std::size_t i = 0; i < sizeof(T); ++i)
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The low `width` bytes (1 to 4) of a field of its own width.
constexpr std::uint32_t LoadLEWidth(const std::uint8_t* bytes, std::size_t width) noexcept {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < width && i < 4; ++i)
    value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  return value;
}

constexpr void StoreLEWidth(std::uint8_t* bytes, std::size_t width, std::uint32_t value) noexcept {
  for (std::size_t i = 0; i < width && i < 4; ++i)
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace core
