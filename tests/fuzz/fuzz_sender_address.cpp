// The account lookup's address rules on hostile addresses: the input up to
// its first NUL is the address, the rest the first served domain. Whatever
// passes names an alias the lookup may use: not empty, no ";", no group or
// include, no double quote, and a short string with its domain.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "sender/config/AddressRules.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view address = input.substr(0, nul);
  const std::string_view first = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
  const sender::LookupAddress got = sender::SplitLookupAddress(address, [&] { return std::string(first); });
  if (got.refusal != sender::RefuseLookup(got.alias, got.domain)) std::abort();
  if (got.alias.find('"') != std::string::npos) std::abort();
  if (got.alias.find_first_of("\r\n") != std::string::npos) std::abort();
  if (got.refusal != sender::AddressRefusal::None) return 0;
  std::size_t start = 0;
  while (start < got.alias.size() && static_cast<unsigned char>(got.alias[start]) <= 32)
    ++start;
  if (start >= got.alias.size() || got.alias[start] == '[' || got.alias[start] == '{') std::abort();
  if (got.alias.find(';') != std::string::npos) std::abort();
  if (got.alias.size() + 1 + got.domain.size() > sender::MaxLookupAddress) std::abort();
  return 0;
}
