#pragma once
// The account cache (`TAccountCache`): account records by their first alias
// and domain name (both lower case), valid while the domain's "users.cfg"
// keeps the version it had before the record was read: its full last-write
// time and size, and the count of writes and deletions this library made to
// it (a password changed within the same two-second stamp must never let the
// old one through), or, in the fast mode, for 30 seconds after the entry was
// stored. Entries are copied in and out under lock 4; no file is touched
// and no other lock taken there.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/accounts/AccountRecord.h"
#include "core/platform/Files.h"

namespace core {

// Keys are kept to this many characters: two longer keys that share them
// are one entry.
inline constexpr std::size_t AccountCacheKeyLength = 127;

struct AccountFileStamp {
  FileVersion version;
  std::uint64_t generation = 0;
  bool operator==(const AccountFileStamp&) const = default;
};

// The stamp of a domain's account file now (the caller takes it before it
// reads the file, outside every lock).
AccountFileStamp CurrentAccountFileStamp(std::string_view domainName);
// Counts one more change of this library to a domain's account file.
void NoteAccountFileChanged(std::string_view domainName);

void SizeAccountCache(std::uint32_t entries);
void FreeAccountCache();
std::size_t AccountCacheSize();

// A valid entry for the keys: its record is copied out and its last use
// renewed. current is the file's stamp now (ignored in the fast mode).
bool LookUpAccountCache(std::string_view firstKey, std::string_view secondKey, const AccountFileStamp& current,
                        bool fast, AccountRecordBytes& record);
// Stores the record under the keys with the stamp taken before it was read:
// into the entry of the same keys, else an empty one, else the oldest.
void StoreAccountCache(std::string_view firstKey, std::string_view secondKey, const AccountFileStamp& stamp,
                       const AccountRecordBytes& record);

// One entry as copied out for a walk over the cache (the authentication tries
// cached accounts before it reads any file).
struct CachedAccount {
  std::string firstKey, secondKey;
  AccountRecordBytes record{};
  AccountFileStamp stamp;
};
// Copies entry index out; false at the first empty entry or past the end.
bool CopyAccountCacheEntry(std::size_t index, CachedAccount& out);
// Renews the last use of entry index when it still holds these keys.
void TouchAccountCacheEntry(std::size_t index, std::string_view firstKey, std::string_view secondKey);

// The keys of an account: its first alias and its domain, lower case.
std::string AccountCacheKey(const std::uint8_t* record);

}  // namespace core
