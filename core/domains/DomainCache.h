#pragma once
// The domain-record cache (`TDomainCache`): records by domain name, valid
// while the record file keeps the version it had when the entry was stored
// (its full last-write time and size, taken before the record was read),
// or, in the fast mode, for 30 seconds after the entry was stored. The
// administration library runs it with no entries; the sending library with
// 32. Entries are copied in and out under lock 4; no file is touched there.
#include <array>
#include <cstdint>
#include <string_view>

#include "core/config/SettingsRecord.h"
#include "core/platform/Files.h"

namespace core {

using DomainRecordBytes = std::array<std::uint8_t, DomainRecordSize>;

// Sizes the cache and empties every entry; a count that cannot be allocated
// leaves no entries.
void SizeDomainCache(std::uint32_t entries);
void FreeDomainCache();
std::size_t DomainCacheSize();

// A valid entry for key: its record is copied out and its last use renewed.
// current is the file's version now (ignored in the fast mode).
bool LookUpDomainCache(std::string_view key, const FileVersion& current, bool fast, DomainRecordBytes& record);
// Stores the record under key with the file version taken before it was read:
// into the entry of the same key, else an empty one, else the oldest.
void StoreDomainCache(std::string_view key, const FileVersion& version, const DomainRecordBytes& record);

}  // namespace core
