#pragma once
// The record caches: the account cache (here) and the domain cache
// (core/domains/DomainCache.h), sized together at each configuration load. Each entry keeps a record, its keys, when it
// was last used and the time and size of the record file when it was stored.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/config/SettingsRecord.h"

namespace core {

// The bytes of account record the cache-size setting reckons per entry
// (three account records).
inline constexpr std::uint64_t CacheBytesPerEntry = 8544;
// Upper bound of either cache, whatever the settings or callers ask for.
inline constexpr std::uint32_t MaxCacheEntries = 100000;
// The requested entry counts before anyone sets them.
inline constexpr std::uint32_t DefaultCacheEntries = 32;

struct AccountCacheEntry {
  std::string firstKey;   // first alias, lower case, at most 127 characters
  std::string secondKey;  // domain name, lower case, at most 127 characters
  std::array<std::uint8_t, AccountRecordSize> record{};
  double lastUse = 0;  // 0 = empty entry
  std::uint32_t fileTime = 0;
  std::uint32_t fileSize = 0;
};

// The requested entry counts (32 each at load; the administration library
// sets both to 0 so that only the cache-size setting sizes its caches).
void SetRequestedCacheCounts(std::uint32_t accountEntries, std::uint32_t domainEntries);
std::uint32_t RequestedAccountCacheEntries();
std::uint32_t RequestedDomainCacheEntries();

// Sizes both caches and empties every entry. In storage mode 0 a cache-size
// setting of s megabytes raises the account count to s * 1,048,576 / 8,544.
// Counts are capped at MaxCacheEntries; a cache that cannot be allocated is
// left with no entries.
void SizeRecordCaches(std::uint8_t storageMode, std::uint32_t cacheSizeMegabytes);

// Releases both caches (library unload); the requested counts stay.
void FreeRecordCaches();

std::size_t AccountCacheSize();

}  // namespace core
