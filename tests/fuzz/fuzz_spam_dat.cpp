// "spam.dat" from hostile text: read after the defaults, written, and read
// again over what the first read left gives the same settings, and the
// written file is a fixpoint of the writer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "core/antispam/SpamDat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  core::SpamSettings first = core::DefaultSpamSettings();
  core::ReadSpamDat(text, first);
  const std::string written = core::WriteSpamDat(first);
  core::SpamSettings second = first;
  core::ReadSpamDat(written, second);
  if (!(second == first)) std::abort();
  if (core::WriteSpamDat(second) != written) std::abort();
  return 0;
}
