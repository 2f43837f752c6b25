#pragma once
// IPv6 address texts in both directions. The text form keeps every group
// (two or four hex digits, no "::" compression): the name functions and the
// reverse-name builder read it back unchanged.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Sixteen bytes in network order.
using IPv6Address = std::array<std::uint8_t, 16>;

// Eight groups joined by ":", each the group's lower-case hex digits made
// even in count: ::1 gives 00:00:00:00:00:00:00:01.
std::string IPv6AddressToText(const IPv6Address& address);

// Reads eight ":"-separated hex groups after expanding one "::"; an empty
// group counts 0 and a non-hex character as the digit 0. Never fails:
// whatever the text, the answer is some address.
IPv6Address IPv6TextToAddress(std::string_view text);

// True when the text holds a ":".
bool IsIPv6Text(std::string_view text);

// The address inside an IPv6 socket address (family, port, flow label,
// address from byte 8); empty when the buffer is shorter than 24 bytes.
std::string SockAddr6ToText(const void* sockAddr, std::size_t length);

}  // namespace core
