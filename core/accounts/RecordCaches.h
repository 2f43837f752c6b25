#pragma once
// Sizing of the two record caches, the account cache (AccountCache.h) and
// the domain cache (core/domains/DomainCache.h), at each configuration load.
#include <cstddef>
#include <cstdint>

namespace core {

// The bytes of account record the cache-size setting reckons per entry
// (three account records).
inline constexpr std::uint64_t CacheBytesPerEntry = 8544;
// Upper bound of either cache, whatever the settings or callers ask for: a
// large cache-size setting must never exhaust a 32-bit process (16,384
// account entries are about 48 MB).
inline constexpr std::uint32_t MaxCacheEntries = 16384;
// The requested entry counts before anyone sets them.
inline constexpr std::uint32_t DefaultCacheEntries = 32;

// The requested entry counts (32 each at load; the administration library
// sets both to 0 so that only the cache-size setting sizes its caches).
void SetRequestedCacheCounts(std::uint32_t accountEntries, std::uint32_t domainEntries);
std::uint32_t RequestedAccountCacheEntries();
std::uint32_t RequestedDomainCacheEntries();

// Sizes both caches and empties every entry (unless both already have the
// requested non-zero sizes). In storage mode 0 a cache-size setting of s
// megabytes raises the account count to s * 1,048,576 / 8,544 (in 64 bits).
// Counts are capped at MaxCacheEntries; a cache that cannot be allocated is
// left with no entries.
void SizeRecordCaches(std::uint8_t storageMode, std::uint32_t cacheSizeMegabytes);

// Releases both caches (library unload); the requested counts stay.
void FreeRecordCaches();

}  // namespace core
