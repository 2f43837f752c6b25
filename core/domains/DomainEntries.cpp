#include "core/domains/DomainEntries.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/config/SettingsRecord.h"
#include "core/util/NetText.h"
#include "core/util/RecordScrambling.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr FieldRef LayoutIs96 = ConfigField("DomainTableIn96ByteLayout");

std::uint8_t Lower(std::uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<std::uint8_t>(c + ('a' - 'A')) : c; }

// Lower-cases the name of every entry and cuts a length byte that would
// reach the address.
void NormalizeNames(std::vector<std::uint8_t>& block) {
  for (std::size_t offset = 0; offset + DomainEntrySize <= block.size(); offset += DomainEntrySize) {
    std::uint8_t* entry = block.data() + offset;
    const std::size_t length = std::min<std::size_t>(entry[0], DomainNameMaxLength);
    entry[0] = static_cast<std::uint8_t>(length);
    for (std::size_t i = 1; i <= length; ++i)
      entry[i] = Lower(entry[i]);
  }
}

// Eight bytes at a time: every mail's lookup hashes its domain name.
std::size_t NameHash(std::string_view name) {
  std::uint64_t hash = 0x9E3779B97F4A7C15u ^ name.size();
  std::size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, name.data() + i, 8);
    hash = (hash ^ word) * 0xBF58476D1CE4E5B9u;
    hash ^= hash >> 31;
  }
  std::uint64_t rest = 0;
  for (std::size_t shift = 0; i < name.size(); ++i, shift += 8)
    rest |= std::uint64_t{static_cast<std::uint8_t>(name[i])} << shift;
  hash = (hash ^ rest) * 0x94D049BB133111EBu;
  return static_cast<std::size_t>(hash ^ (hash >> 29));
}

// Whether the entry's name is name, compared in place eight bytes at a
// time (every lookup ends here).
bool SameName(std::string_view entry, std::string_view name) {
  if (entry.size() != name.size()) return false;
  std::size_t i = 0;
  for (; i + 8 <= name.size(); i += 8) {
    std::uint64_t a, b;
    std::memcpy(&a, entry.data() + i, 8);
    std::memcpy(&b, name.data() + i, 8);
    if (a != b) return false;
  }
  for (; i < name.size(); ++i)
    if (entry[i] != name[i]) return false;
  return true;
}

// The trimmed text of a short string of width characters at bytes.
std::string ShortText(const std::uint8_t* bytes, std::size_t width) {
  const std::size_t length = std::min<std::size_t>(bytes[0], width);
  return Trim(std::string_view(reinterpret_cast<const char*>(bytes + 1), length));
}

}  // namespace

std::string_view DomainEntries::Name(std::size_t index) const {
  const std::uint8_t* entry = block.data() + index * DomainEntrySize;
  return {reinterpret_cast<const char*>(entry + 1), std::min<std::size_t>(entry[0], DomainNameMaxLength)};
}

std::uint32_t DomainEntries::Address(std::size_t index) const {
  const std::uint8_t* a = block.data() + index * DomainEntrySize + DomainAddressOffset;
  return static_cast<std::uint32_t>(a[0]) << 24 | static_cast<std::uint32_t>(a[1]) << 16 |
         static_cast<std::uint32_t>(a[2]) << 8 | a[3];
}

void DomainEntries::SetAddress(std::size_t index, std::uint32_t address) {
  std::uint8_t* a = block.data() + index * DomainEntrySize + DomainAddressOffset;
  a[0] = static_cast<std::uint8_t>(address >> 24);
  a[1] = static_cast<std::uint8_t>(address >> 16);
  a[2] = static_cast<std::uint8_t>(address >> 8);
  a[3] = static_cast<std::uint8_t>(address);
}

void DomainEntries::SetEntry(std::size_t index, std::string_view name, std::uint32_t address) {
  // A name that goes away may leave its first place to a later entry: the
  // index is rebuilt then (renames are rare). An empty entry only gains one.
  const bool replaces = !Name(index).empty();
  WriteEntry(index, name, address);
  if (replaces)
    Reindex();
  else
    IndexEntry(index);
}

void DomainEntries::WriteEntry(std::size_t index, std::string_view name, std::uint32_t address) {
  std::uint8_t* entry = block.data() + index * DomainEntrySize;
  std::memset(entry, 0, DomainEntrySize);
  const std::size_t length = std::min(name.size(), DomainNameMaxLength);
  entry[0] = static_cast<std::uint8_t>(length);
  for (std::size_t i = 0; i < length; ++i)
    entry[1 + i] = Lower(static_cast<std::uint8_t>(name[i]));
  SetAddress(index, address);
}

void DomainEntries::Add(std::string_view name, std::uint32_t grow) {
  if (count >= Allocated() || grow != 1) {
    // The allocated length becomes count + grow, whatever it was.
    const std::uint64_t wanted = std::min<std::uint64_t>(std::uint64_t{count} + grow, MaxDomainEntries);
    const bool shrinks = wanted < Allocated();
    block.resize(static_cast<std::size_t>(wanted) * DomainEntrySize, 0);
    if (shrinks) Reindex();  // entries that held names may be gone
  }
  if (name.empty() || count >= Allocated()) return;
  SetEntry(count, name, 0);
  ++count;
}

bool DomainEntries::Remove(std::size_t index) {
  const std::size_t live = Live();
  if (index >= live) return false;
  std::memmove(block.data() + index * DomainEntrySize, block.data() + (index + 1) * DomainEntrySize,
               (live - index - 1) * DomainEntrySize);
  std::memset(block.data() + (live - 1) * DomainEntrySize, 0, DomainEntrySize);
  --count;
  Reindex();  // every later entry moved
  return true;
}

int DomainEntries::IndexOf(std::string_view name) const {
  if (name.empty()) return -1;
  if (scan_) {
    const std::size_t live = Live();
    for (std::size_t i = 0; i < live; ++i) {
      if (Name(i) == name) return static_cast<int>(i);
    }
    return -1;
  }
  if (slots_.empty()) return -1;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = NameHash(name) & mask; slots_[slot] != 0; slot = (slot + 1) & mask) {
    const std::size_t first = slots_[slot] - 1;
    if (SameName(Name(first), name)) return first < Live() ? static_cast<int>(first) : -1;
  }
  return -1;
}

void DomainEntries::Reindex() {
  std::vector<std::uint32_t>().swap(slots_);
  indexed_ = 0;
  scan_ = false;
  if (Allocated() == 0) return;
  try {
    Rehash(Allocated());
  } catch (const std::bad_alloc&) {
    scan_ = true;
    return;
  }
  for (std::size_t i = 0; i < Allocated() && !scan_; ++i)
    IndexEntry(i);
}

void DomainEntries::Rehash(std::size_t names) {
  // At most half the slots used, so that probes stay short.
  std::size_t size = 16;
  while (size < 2 * names)
    size *= 2;
  if (size <= slots_.size()) return;
  std::vector<std::uint32_t> old(size, 0);
  old.swap(slots_);
  for (const std::uint32_t used : old) {
    if (used == 0) continue;
    std::size_t slot = NameHash(Name(used - 1)) & (size - 1);
    while (slots_[slot] != 0)
      slot = (slot + 1) & (size - 1);
    slots_[slot] = used;
  }
}

void DomainEntries::IndexEntry(std::size_t index) {
  const std::string_view name = Name(index);
  if (scan_ || name.empty()) return;
  if (2 * (indexed_ + 1) > slots_.size()) {
    try {
      Rehash(2 * (indexed_ + 1));
    } catch (const std::bad_alloc&) {
      // No memory for the index: lookups scan, with the same answers.
      std::vector<std::uint32_t>().swap(slots_);
      scan_ = true;
      return;
    }
  }
  const std::size_t mask = slots_.size() - 1;
  std::size_t slot = NameHash(name) & mask;
  for (; slots_[slot] != 0; slot = (slot + 1) & mask) {
    std::uint32_t& used = slots_[slot];
    if (Name(used - 1) != name) continue;
    if (index < used - 1) used = static_cast<std::uint32_t>(index + 1);
    return;
  }
  slots_[slot] = static_cast<std::uint32_t>(index + 1);
  ++indexed_;
}

std::uint32_t BoundedDomainCount(std::uint32_t stored) {
  if (static_cast<std::int32_t>(stored) < 0) return 0;
  return std::min(stored, MaxDomainEntries);
}

DomainEntries LoadDomainEntries(std::uint32_t storedCount, std::string_view source, bool legacy) {
  DomainEntries entries;
  entries.count = BoundedDomainCount(storedCount);
  entries.block.assign(static_cast<std::size_t>(entries.count) * DomainEntrySize, 0);
  const std::size_t read = std::min(entries.block.size(), source.size());
  if (read > 0) std::memcpy(entries.block.data(), source.data(), read);
  if (legacy) ScrambleBuffer(entries.block.data(), static_cast<std::ptrdiff_t>(read), LegacyScrambleStart);
  NormalizeNames(entries.block);
  entries.Reindex();
  return entries;
}

void MigrateDomainEntries(DomainEntries& entries, std::uint8_t* settings, bool fromLegacyWhole) {
  // The oldest form: the in-record table, when the list has no first name.
  // Its entries are written in the current layout, so the 32-byte
  // conversion below must not take them for short entries.
  bool converted96 = false;
  if (fromLegacyWhole && entries.count != 0 && (entries.Allocated() == 0 || entries.Name(0).empty())) {
    const std::uint32_t old = std::min(entries.count, InRecordEntries);
    const std::uint8_t* table = settings + InRecordTableOffset;
    DomainEntries converted;
    if (!ShortText(table, InRecordEntrySize - 1).empty()) {
      for (std::uint32_t i = 0; i < old; ++i)
        converted.Add(ShortText(table + i * InRecordEntrySize, InRecordEntrySize - 1), 1);
    }
    entries = std::move(converted);
    converted96 = true;
  }
  // The 32-byte layout: names only, from the highest entry down so that no
  // name is overwritten before it moved; the addresses become 0.0.0.0.
  if (GetU8(settings, LayoutIs96) == 0 && !converted96) {
    for (std::size_t n = entries.Live(); n-- > 0;) {
      const std::uint8_t* from = entries.block.data() + n * ShortEntrySize;
      const std::size_t length = std::min<std::size_t>(from[0], ShortEntrySize - 1);
      const std::string name(reinterpret_cast<const char*>(from + 1), length);
      entries.WriteEntry(n, name, 0);
    }
    entries.Reindex();
  }
  SetU8(settings, LayoutIs96, 1);
}

std::string DottedAddress(std::uint32_t address) {
  if (address == 0) return {};
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::uint32_t AddressFromText(std::string_view text) {
  std::uint32_t value = 0;
  const std::string trimmed = Trim(text);
  if (trimmed.empty() || !ParseIPv4Strict(trimmed, value)) return 0;
  return value;
}

}  // namespace core
