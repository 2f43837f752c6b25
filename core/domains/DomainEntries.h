#pragma once
// The domain table's entries as bytes: fixed 96-byte entries (length byte, up
// to 91 name characters in lower case, IPv4 address in network byte order)
// in one block, and the loading and conversion of the older forms. Portable
// and free of state: the table (DomainTable.h) keeps one of these behind its
// lock, and the fuzz target drives it with hostile images.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

inline constexpr std::size_t DomainEntrySize = 96;
inline constexpr std::size_t DomainNameMaxLength = 91;
inline constexpr std::size_t DomainAddressOffset = 92;
// Bounds the memory a damaged count can claim (96 MB of entries).
inline constexpr std::uint32_t MaxDomainEntries = 1000000;
// Where the domain list of older installations lies inside "settings.cfg",
// scrambled as a continuation of the settings record (key index 8).
inline constexpr std::uint64_t LegacyDomainListOffset = 20344;
inline constexpr std::size_t LegacyScrambleStart = 8;
// The in-record table of the oldest installations: 100 short strings of up
// to 127 characters from settings byte 7,024.
inline constexpr std::size_t InRecordTableOffset = 7024;
inline constexpr std::size_t InRecordEntrySize = 128;
inline constexpr std::uint32_t InRecordEntries = 100;
// Entries of the 32-byte layout (names of up to 31 characters).
inline constexpr std::size_t ShortEntrySize = 32;
// The address that says "the domain's bindings are in its bind.dat".
inline constexpr std::string_view DomainBindMarker = "255.255.255.255";

// The block and count are open to the table; whoever writes names into the
// block other than through the members below calls Reindex afterwards.
struct DomainEntries {
  std::vector<std::uint8_t> block;  // allocated entries, DomainEntrySize bytes each
  std::uint32_t count = 0;          // live entries (the settings record keeps it)

  std::size_t Allocated() const { return block.size() / DomainEntrySize; }
  // Live entries that the block really holds.
  std::size_t Live() const { return count < Allocated() ? count : Allocated(); }
  bool InTable(int index) const { return index >= 0 && static_cast<std::size_t>(index) < Allocated(); }

  std::string_view Name(std::size_t index) const;
  std::uint32_t Address(std::size_t index) const;  // network order as a number: 10.0.0.1 = 0x0A000001
  void SetAddress(std::size_t index, std::uint32_t address);
  // Clears the entry and stores the lower-cased name, at most 91 characters.
  void SetEntry(std::size_t index, std::string_view name, std::uint32_t address);

  // Appends an entry: with count at the allocated length or grow other than
  // 1 the block grows by grow entries first (to count + grow); an empty
  // name only allocates.
  void Add(std::string_view name, std::uint32_t grow);
  // Moves the entries after index one down (names with their addresses) and
  // lowers the count. False for an index outside the live entries.
  bool Remove(std::size_t index);
  // The first live entry with exactly this name (bytes), or -1.
  int IndexOf(std::string_view name) const;
  // Rebuilds the index by name from the block.
  void Reindex();

 private:
  friend void MigrateDomainEntries(DomainEntries&, std::uint8_t*, bool);
  // Writes an entry without touching the index.
  void WriteEntry(std::size_t index, std::string_view name, std::uint32_t address);
  // Notes entry index under its name unless an earlier entry has the name.
  void IndexEntry(std::size_t index);
  // Grows the slots to hold names at most half full.
  void Rehash(std::size_t names);

  // Open addressing by the hash of the name: each used slot holds 1 + the
  // position of the first entry of the whole block (live or not) with that
  // name. The first position answers for the live entries too: when it lies
  // beyond them, no live entry has the name. Names are compared in the
  // block itself, so the index holds no copy of them.
  std::vector<std::uint32_t> slots_;
  std::size_t indexed_ = 0;  // used slots
  bool scan_ = false;        // no memory for the slots: lookups scan the entries
};

// The stored count as the table takes it: a negative (as a signed 32-bit
// number) count is 0, anything above MaxDomainEntries is capped.
std::uint32_t BoundedDomainCount(std::uint32_t stored);

// Builds the table from the bytes of its source: count entries, as many as
// the source holds read from it, the rest empty; every name lower-cased and
// its length byte clamped to 91. legacy: the source is "settings.cfg" from
// byte 20,344 on, still scrambled (from key index 8).
DomainEntries LoadDomainEntries(std::uint32_t storedCount, std::string_view source, bool legacy);

// Converts the older forms after loading. settings is the whole settings
// record (the in-record table at 7,024 is read, the layout byte 7,001 set).
// The in-record table replaces the list only when it came from the old
// place inside "settings.cfg" and that part held whole entries, so a damaged
// "domains.cfg" never empties the table.
void MigrateDomainEntries(DomainEntries& entries, std::uint8_t* settings, bool fromLegacyWhole);

// Dotted text of an address number ("" for 0) and back (0 for an empty or
// unreadable text).
std::string DottedAddress(std::uint32_t address);
std::uint32_t AddressFromText(std::string_view text);

}  // namespace core
