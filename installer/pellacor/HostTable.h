#pragma once
// The host's table of named variables, read and changed in place. The host
// is outside the library: every count, size and address it gives is bounded
// here. Entries are examined up to min(count, capacity) with a 32-bit index,
// offsets are computed in 64 bits and must stay inside the address space,
// and a name or value is only read up to its slot's end (an entry without a
// zero is its whole slot). A null block or a slot size 0 means no entries.
// No OS call here.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "include/Pellacor.h"

namespace pellacor {

// Every text the plug-in handles fits 256 bytes, its zero included.
inline constexpr std::size_t MaxText = 255;

class HostTable {
 public:
  // table must not be null.
  explicit HostTable(PellacorHostTable& table) noexcept : table_(table) {}

  // The index of the entry named "%variable%" (compared byte for byte).
  std::optional<std::uint32_t> Find(std::string_view variable) const;
  // The value of "%variable%"; empty when there is none.
  std::string_view Get(std::string_view variable) const;
  // Overwrites the value of "%variable%", or appends the entry while count
  // is below capacity. Nothing is written, and the answer is false, when the
  // text with its zero does not fit a value slot, the name with its zero
  // does not fit a name slot (for an append), or the table is full.
  bool Put(std::string_view variable, std::string_view text);

 private:
  std::uint32_t Examined() const noexcept;
  char* NameSlot(std::uint32_t index) const noexcept;
  char* ValueSlot(std::uint32_t index) const noexcept;

  PellacorHostTable& table_;
};

}  // namespace pellacor
