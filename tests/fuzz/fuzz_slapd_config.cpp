// "slapd.conf" of any content: values come out trimmed, one line each.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/ldap/SlapdConfig.h"

namespace {

void Check(const std::string& value) {
  if (value.find('\n') != std::string::npos || value.find('\t') != std::string::npos) std::abort();
  if (!value.empty() &&
      (static_cast<unsigned char>(value.front()) <= 32 || static_cast<unsigned char>(value.back()) <= 32))
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const core::DirectorySettings s = core::ParseSlapdConfig(std::string_view(reinterpret_cast<const char*>(data), size));
  Check(s.userSuffix);
  Check(s.rootDn);
  Check(s.rootPassword);
  return 0;
}
