#pragma once
// Host, port and IPv4 texts, and the pattern routines of the address lists:
// each Apply... routine rewrites its subject so that a following equality
// test against the (possibly cut) pattern tells whether the subject is admitted.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Splits "host:port", "a.b.c.d:port" or "[IPv6]:port". A name ending with a
// letter goes to hostName, anything else to address. Text with two or more
// ":" and no brackets is an IPv6 address as a whole. The port is taken when
// it is a number 1-65535, else port = defaultPort. *portRefused (when
// given) tells whether the port item was digits that name no port (0, over
// 65535, more than 5 digits). Always true.
bool ParseHostPort(std::string_view text, std::uint16_t defaultPort, std::string& address, std::uint16_t& port,
                   std::string& hostName, bool* portRefused = nullptr);

// True when the last character is an ASCII letter.
bool EndsWithLetter(std::string_view text);

// a*2^24 + b*2^16 + c*2^8 + d of the first four "."-separated parts, each
// read as an integer (0 when not a number), modulo 2^32.
std::uint32_t IPToNumber(std::string_view dotted);

// Exactly four "."-separated parts of 1-3 digits, each 0-255.
bool ParseIPv4Strict(std::string_view text, std::uint32_t& value);

// True when ip lies in network/prefixLength. Both addresses must be strict
// IPv4 texts (surrounding blanks ignored) and the prefix 0-32.
bool IPInNetwork(std::string_view ip, std::string_view network, int prefixLength);

// mask: four "."-separated parts, each a number, "*" or a range "a-b"; or
// "network/prefix" (see ApplyCIDRMask). Without "*", "-" and "/" nothing changes.
void ApplyIPMask(std::string& ip, std::size_t maxLength, std::string& mask);

// Cuts mask to its network part (before "/"); when ip lies in that network,
// ip becomes the network text. The prefix must be a number 0-32.
void ApplyCIDRMask(std::string& ip, std::size_t maxLength, std::string& mask);

// pattern: prefix "*" suffix. When name starts with the prefix (exact case)
// and ends with the suffix (any case) without the two overlapping, name
// becomes the pattern (cut to maxLength).
void ApplyWildcardMask(std::string& name, std::size_t maxLength, std::string_view pattern);

// True for texts such as 10.1.*.*, 192.168.1.10-30 or 10.0.0.0/8: longer than
// five characters, starting and ending with "*" or a digit, made of digits,
// "*", "-", "." and "/" only.
bool IsIPPattern(std::string_view text);

}  // namespace core
