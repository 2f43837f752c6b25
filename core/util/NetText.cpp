#include "core/util/NetText.h"

#include "core/util/Numbers.h"
#include "core/util/Text.h"

#include <algorithm>

namespace core {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A port text: digits only, 1-65535.
bool ReadPort(std::string_view text, std::uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  std::uint32_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) return false;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

// A prefix length text: digits only (blanks around allowed), else -1, so an
// empty or garbled prefix never reads as 0, which would admit every address.
int ReadPrefixLength(std::string_view text) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty() || trimmed.size() > 2) return -1;
  int value = 0;
  for (char c : trimmed) {
    if (!IsDigit(c)) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

bool EndsWithLetter(std::string_view text) {
  if (text.empty()) return false;
  const char c = text.back();
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool ParseHostPort(std::string_view text, std::uint16_t defaultPort, std::string& address, std::uint16_t& port,
                   std::string& hostName, bool* portRefused) {
  if (portRefused != nullptr) *portRefused = false;
  address.clear();
  hostName.clear();
  port = defaultPort;
  std::string work = Trim(text);

  const std::size_t open = work.find('[');
  const std::size_t close = open == std::string::npos ? std::string::npos : work.find(']', open + 1);
  if (close != std::string::npos) {
    address = Trim(std::string_view(work).substr(open + 1, close - open - 1));
    work.erase(0, close + 1);
  } else {
    // A bare IPv6 address: its colons are no port separator.
    if (std::count(work.begin(), work.end(), ':') >= 2) {
      address = work;
      return true;
    }
    std::string first = GetDelimitedItem(work, 0, ':');
    if (EndsWithLetter(first)) {
      hostName = std::move(first);
    } else {
      address = std::move(first);
    }
  }
  if (work.find(':') != std::string::npos) {
    const std::string item = GetDelimitedItem(work, 1, ':');
    std::uint16_t value = 0;
    if (ReadPort(item, value)) {
      port = value;
    } else if (portRefused != nullptr) {
      *portRefused = !item.empty() && std::all_of(item.begin(), item.end(), IsDigit);
    }
  }
  return true;
}

std::uint32_t IPToNumber(std::string_view dotted) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value = (value << 8) + static_cast<std::uint32_t>(TextToInt(GetDelimitedItem(dotted, i, '.')));
  }
  return value;
}

bool ParseIPv4Strict(std::string_view text, std::uint32_t& value) {
  std::uint32_t result = 0;
  std::size_t pos = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    std::uint32_t number = 0;
    std::size_t digits = 0;
    while (pos < text.size() && IsDigit(text[pos]) && digits < 4) {
      number = number * 10 + static_cast<std::uint32_t>(text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || digits > 3 || number > 255) return false;
    result = (result << 8) | number;
  }
  if (pos != text.size()) return false;
  value = result;
  return true;
}

bool IPInNetwork(std::string_view ip, std::string_view network, int prefixLength) {
  if (prefixLength < 0 || prefixLength > 32) return false;
  std::uint32_t address = 0;
  std::uint32_t net = 0;
  if (!ParseIPv4Strict(Trim(ip), address) || !ParseIPv4Strict(Trim(network), net)) return false;
  const std::uint32_t mask = prefixLength == 0 ? 0u : 0xFFFFFFFFu << (32 - prefixLength);
  return (address & mask) == (net & mask);
}

void ApplyCIDRMask(std::string& ip, std::size_t maxLength, std::string& mask) {
  const std::size_t slash = mask.find('/');
  if (slash == std::string::npos) return;
  const int prefix = ReadPrefixLength(std::string_view(mask).substr(slash + 1));
  mask.erase(slash);
  if (IPInNetwork(ip, mask, prefix)) ip = CutTo(mask, maxLength);
}

void ApplyIPMask(std::string& ip, std::size_t maxLength, std::string& mask) {
  if (mask.find_first_of("*-/") == std::string::npos) return;
  if (mask.find('/') != std::string::npos) {
    ApplyCIDRMask(ip, maxLength, mask);
    return;
  }
  // Only a dotted IPv4 address is rebuilt: anything else (an IPv6 address,
  // a short or garbled text) would read its missing parts as 0 and could be
  // admitted, so it stays as it is and never equals the mask.
  std::uint32_t parsed = 0;
  if (!ParseIPv4Strict(Trim(ip), parsed)) return;
  std::string rebuilt;
  for (int i = 0; i < 4; ++i) {
    const std::string maskPart = GetDelimitedItem(mask, i, '.');
    const std::string ipPart = GetDelimitedItem(ip, i, '.');
    if (i > 0) rebuilt += '.';
    if (maskPart == "*") {
      rebuilt += '*';
    } else if (maskPart.find('-') != std::string::npos) {
      // Outside the range the part stays empty, so the texts differ.
      const std::int32_t low = TextToInt(GetDelimitedItem(maskPart, 0, '-'));
      const std::int32_t high = TextToInt(GetDelimitedItem(maskPart, 1, '-'));
      const std::int32_t value = TextToInt(ipPart);
      if (low <= value && value <= high) rebuilt += maskPart;
    } else {
      rebuilt += ipPart;
    }
  }
  ip = CutTo(rebuilt, maxLength);
}

void ApplyWildcardMask(std::string& name, std::size_t maxLength, std::string_view pattern) {
  const std::size_t star = pattern.find('*');
  if (star == std::string_view::npos) return;
  const std::string_view prefix = pattern.substr(0, star);
  const std::string_view suffix = pattern.substr(star + 1);
  // The "*" stands between the two, so they may not share characters of the name.
  if (name.size() < prefix.size() + suffix.size()) return;
  if (name.compare(0, prefix.size(), prefix) != 0) return;
  if (!SameText(std::string_view(name).substr(name.size() - suffix.size()), suffix)) return;
  name = CutTo(pattern, maxLength);
}

bool IsIPPattern(std::string_view text) {
  if (text.size() <= 5) return false;
  auto edge = [](char c) { return c == '*' || (c >= '0' && c <= '9'); };
  if (!edge(text.front()) || !edge(text.back())) return false;
  for (char c : text) {
    if (!(edge(c) || c == '-' || c == '.' || c == '/')) return false;
  }
  return true;
}

}  // namespace core
