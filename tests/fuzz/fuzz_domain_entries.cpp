// Loading and converting the domain table from hostile settings records and
// "domains.cfg" images: every name stays within 91 characters, the count
// within the entries, and nothing is read outside the block (ASan).
// Byte 0: flags (bit 0 legacy source, bit 1 legacy source of whole entries,
// bit 2 layout byte 7,001 set); bytes 1-2: count; bytes 3-4: length of the
// in-record table image that follows; the rest: the source bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/domains/DomainEntries.h"
#include "tests/support/records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  const std::uint8_t flags = data[0];
  const std::uint32_t count = static_cast<std::uint32_t>(data[1] | data[2] << 8);
  std::size_t tableLength = static_cast<std::size_t>(data[3] | data[4] << 8);
  data += 5;
  size -= 5;
  tableLength = tableLength < size ? tableLength : size;
  using namespace records::settings;
  std::vector<std::uint8_t> settings(records::SettingsSize, 0);
  for (std::size_t i = 0; i < tableLength && OldDomainTable + i < settings.size(); ++i)
    settings[OldDomainTable + i] = data[i];
  settings[DomainLayout] = (flags & 4) != 0 ? 1 : 0;
  const std::string_view source(reinterpret_cast<const char*>(data + tableLength), size - tableLength);

  core::DomainEntries entries = core::LoadDomainEntries(count, source, (flags & 1) != 0);
  core::MigrateDomainEntries(entries, settings.data(), (flags & 2) != 0);
  if (settings[DomainLayout] != 1) std::abort();
  if (entries.Live() != entries.count) std::abort();
  for (std::size_t i = 0; i < entries.Allocated(); ++i) {
    if (entries.block[i * core::DomainEntrySize] > core::DomainNameMaxLength) std::abort();
    if (entries.Name(i).size() > core::DomainNameMaxLength) std::abort();
  }
  // The index by name answers as a scan of the live entries does.
  for (std::size_t i = 0; i < entries.Allocated() && i < 64; ++i) {
    const std::string_view name = entries.Name(i);
    int first = -1;
    for (std::size_t j = 0; !name.empty() && j < entries.Live() && first < 0; ++j)
      first = entries.Name(j) == name ? static_cast<int>(j) : -1;
    if (entries.IndexOf(name) != first) std::abort();
  }
  // The entry operations keep the same bounds.
  if (entries.count > 0) {
    const std::string_view first = entries.Name(0);
    if (entries.IndexOf(first) > 0) std::abort();
    entries.Remove(0);
  }
  entries.Add(source.substr(0, source.size() < 200 ? source.size() : 200), 1);
  for (std::size_t i = 0; i < entries.Allocated(); ++i) {
    if (entries.Name(i).size() > core::DomainNameMaxLength) std::abort();
  }
  return 0;
}
