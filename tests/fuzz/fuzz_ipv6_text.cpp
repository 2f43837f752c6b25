// IPv6 texts of any bytes: the reader must be total, and the text written
// for an address must read back as the same address.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/util/IPv6Text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const core::IPv6Address address = core::IPv6TextToAddress(text);
  const std::string written = core::IPv6AddressToText(address);
  if (written.size() < 23 || written.size() > 39 || core::IPv6TextToAddress(written) != address) std::abort();
  if (core::IsIPv6Text(text) != (text.find(':') != std::string_view::npos)) std::abort();
  if (core::SockAddr6ToText(data, size).empty() != (size < 24)) std::abort();
  return 0;
}
