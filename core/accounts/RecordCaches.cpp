#include "core/accounts/RecordCaches.h"

#include <algorithm>
#include <atomic>

#include "core/accounts/AccountCache.h"
#include "core/domains/DomainCache.h"
#include "core/platform/LockTable.h"

namespace core {
namespace {

std::atomic<std::uint32_t> g_accountRequested{DefaultCacheEntries};
std::atomic<std::uint32_t> g_domainRequested{DefaultCacheEntries};

}  // namespace

void SetRequestedCacheCounts(std::uint32_t accountEntries, std::uint32_t domainEntries) {
  g_accountRequested.store(std::min(accountEntries, MaxCacheEntries));
  g_domainRequested.store(std::min(domainEntries, MaxCacheEntries));
}

std::uint32_t RequestedAccountCacheEntries() { return g_accountRequested.load(); }
std::uint32_t RequestedDomainCacheEntries() { return g_domainRequested.load(); }

void SizeRecordCaches(std::uint8_t storageMode, std::uint32_t cacheSizeMegabytes) {
  TableLock hold(RecordCacheLock);
  std::uint32_t accounts = g_accountRequested.load();
  const std::uint32_t domains = g_domainRequested.load();
  if (accounts != 0 && domains != 0 && AccountCacheSize() == accounts && DomainCacheSize() == domains) return;
  if (storageMode == 0 && cacheSizeMegabytes != 0) {
    const std::uint64_t wanted = static_cast<std::uint64_t>(cacheSizeMegabytes) * 1048576u / CacheBytesPerEntry;
    const auto capped = static_cast<std::uint32_t>(std::min<std::uint64_t>(wanted, MaxCacheEntries));
    if (capped > accounts) {
      accounts = capped;
      g_accountRequested.store(accounts);
    }
  }
  SizeAccountCache(accounts);
  SizeDomainCache(domains);
}

void FreeRecordCaches() {
  FreeAccountCache();
  FreeDomainCache();
}

}  // namespace core
