// Host/port splitting and the address-list pattern routines over arbitrary
// bytes. Input: first byte picks lengths and prefix, then "subject\npattern".
#include "core/util/NetText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t control = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t newline = rest.find('\n');
  const std::string_view subject = rest.substr(0, newline);
  const std::string_view pattern = newline == std::string_view::npos ? std::string_view() : rest.substr(newline + 1);
  const std::size_t maxLength = control;
  const int prefix = static_cast<int>(control % 40) - 4;

  std::string address;
  std::string hostName;
  std::uint16_t port = 0;
  if (!core::ParseHostPort(rest, 25, address, port, hostName)) std::abort();
  if (port == 0 || (!address.empty() && !hostName.empty())) std::abort();

  const bool inside = core::IPInNetwork(subject, pattern, prefix);
  if (inside && (prefix < 0 || prefix > 32)) std::abort();
  std::uint32_t value = 0;
  if (core::ParseIPv4Strict(subject, value) && prefix >= 0 && prefix <= 32 &&
      !core::IPInNetwork(subject, subject, prefix)) {
    std::abort();
  }
  (void)core::IPToNumber(subject);

  std::string ip(subject);
  std::string mask(pattern);
  core::ApplyIPMask(ip, maxLength, mask);
  if (ip != subject && ip.size() > maxLength) std::abort();
  if (mask.size() > pattern.size()) std::abort();

  std::string name(subject);
  core::ApplyWildcardMask(name, maxLength, pattern);
  if (name != subject && name != pattern.substr(0, maxLength)) std::abort();
  return 0;
}
