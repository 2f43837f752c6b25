// Any file image loads, and every row it gives has a usable name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "api/automation/SettingNames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view image(reinterpret_cast<const char*>(data), size);
  const auto table = api::automation::SettingNameTable::Parse(image);
  for (const auto& row : table.Rows()) {
    if (row.name.empty() || row.name.size() > api::automation::MaxNameLength) std::abort();
    for (const char c : row.name)
      if ((c >= 'A' && c <= 'Z') || c == '\r' || c == '\n') std::abort();
    if (!(row.name.front() >= '0' && row.name.front() <= '9') && table.Find(row.name) == nullptr) std::abort();
  }
  return 0;
}
