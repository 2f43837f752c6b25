#include "core/util/IPv6Text.h"

#include <algorithm>
#include <cstring>

#include "core/util/Numbers.h"
#include "core/util/Text.h"

namespace core {

std::string IPv6AddressToText(const IPv6Address& address) {
  std::string text;
  text.reserve(39);
  for (std::size_t group = 0; group < 8; ++group) {
    if (group != 0) text.push_back(':');
    const int value = (address[group * 2] << 8) | address[group * 2 + 1];
    text.append(IntToHexText(value, false));
  }
  return LowerCase(text);
}

IPv6Address IPv6TextToAddress(std::string_view text) {
  std::string work = Trim(text);
  const auto colons = static_cast<std::ptrdiff_t>(std::count(work.begin(), work.end(), ':'));
  const std::size_t gap = work.find("::");
  if (gap != std::string::npos) {
    // Drop the first ":" of the pair and put the missing zero groups after
    // the other one.
    std::string filler;
    for (std::ptrdiff_t i = colons; i < 8; ++i)
      filler.append("0:");
    work.erase(gap, 1);
    work.insert(gap + 1, filler);
  }
  IPv6Address address{};
  for (int group = 0; group < 8; ++group) {
    const std::uint32_t value = HexToInt(GetDelimitedWord(work, group, ':'));
    address[static_cast<std::size_t>(group) * 2] = static_cast<std::uint8_t>(value >> 8);
    address[static_cast<std::size_t>(group) * 2 + 1] = static_cast<std::uint8_t>(value);
  }
  return address;
}

bool IsIPv6Text(std::string_view text) { return text.find(':') != std::string_view::npos; }

std::string SockAddr6ToText(const void* sockAddr, std::size_t length) {
  constexpr std::size_t AddressOffset = 8;
  IPv6Address address{};
  if (sockAddr == nullptr || length < AddressOffset + address.size()) return {};
  std::memcpy(address.data(), static_cast<const std::uint8_t*>(sockAddr) + AddressOffset, address.size());
  return IPv6AddressToText(address);
}

}  // namespace core
