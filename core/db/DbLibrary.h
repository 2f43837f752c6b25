#pragma once
// Loader of the database back end "DB.dll" and one typed call per entry point.
//
// Every call but the closing one holds the database lock (lock 5, unless the
// settings turn it off) and a shared hold of the library state, so that
// unloading waits for calls in flight. A call into a library that is not
// loaded, to an entry point the library lacks, or that raises an exception
// inside the library answers the failure value given with each call and never
// lets the exception out. Null texts are passed as empty texts; a null record
// or block fails without calling.
//
// Lock order: the database lock first, then the library state; so a caller may
// hold the database lock across several calls (the lock is recursive).
#include <cstdint>
#include <string>

#include "core/db/DbInterface.h"

namespace core {

// Unless loaded: loads rootFolder + "DB.dll" (a "\" is put between when the
// folder lacks one) and binds the entry points by name. True when loaded
// afterwards; a failed load leaves the library unloaded. An empty folder is
// refused, so the library is never searched along the system's DLL path.
bool LoadDBLibrary(const std::string& rootFolder);

// LoadDBLibrary, then under one hold of the database lock DBSetConnection and
// DBReloadConfig; their failures are swallowed. True when the library is loaded.
bool ConnectDatabase(const std::string& rootFolder, const std::string& connection);

// When loaded: marks it unloaded, calls DBDoneConnection (without the database
// lock) and frees the library, after every call in flight has returned.
void UnloadDBLibrary();

bool IsDBLoaded();

// Lock 5 around one or several calls into the back end, unless settings byte
// 152 says calls go without it. Remembers whether it entered, because the
// setting may change between enter and leave.
class LockDatabase {
 public:
  LockDatabase();
  ~LockDatabase();
  LockDatabase(const LockDatabase&) = delete;
  LockDatabase& operator=(const LockDatabase&) = delete;
  bool entered() const { return entered_; }

 private:
  bool entered_ = false;
};

// One call per entry point; the failure value follows each.
bool DbSetConnection(const char* connection);                      // false
bool DbReloadConfig();                                             // false
bool DbGetDomain(const char* domain, std::uint8_t* record);        // false
bool DbSetDomain(const char* domain, const std::uint8_t* record);  // false
bool DbAddDomain(const char* domain);                              // false
bool DbDeleteDomain(const char* domain);                           // false
bool DbRenameDomain(const char* oldName, const char* newName);     // false
bool DbSetDomainIP(const char* domain, const char* binding);       // false
std::int32_t DbGetDomainCount();                                   // 0 (never negative)
// entries holds count * DbDomainEntrySize bytes; count <= 0 fails.
bool DbGetDomains(std::uint8_t* entries, std::int32_t count);                          // false
bool DbSaveUsers(const char* domain, const std::uint8_t* record, std::int32_t index);  // false
// failed, when given, tells a call that did not answer (or answered that it
// could not read) from a domain without accounts.
std::int32_t DbGetUsers(const char* domain, std::uint8_t* record, std::int32_t index,
                        bool* failed = nullptr);                        // 0 (never negative)
bool DbDeleteUsers(std::int32_t index);                                 // false
std::int32_t DbGetUsersIndex(const char* domain, const char* aliases);  // -1 (every negative answer)
bool DbInitUsers(const char* domain, std::uint8_t* block, std::int32_t start, std::int32_t skipCount,
                 const char* filter);                           // false
std::int32_t DbNextUser(std::uint8_t* block);                   // 1 = end; 0 = account placed
bool DbDoneUsers(std::uint8_t* block);                          // false
bool DbCheckNewAlias(const char* domain, const char* aliases);  // false; true = the aliases are free
// true = the mailbox is taken (the opposite sense of DbCheckNewAlias)
bool DbCheckForMailbox(const char* mailbox, const char* password, const char* aliases, bool usesBinding,
                       const char* domain);  // false
// domainOut is emptied first and, when accepted, receives the account's
// domain name (at most 255 characters, whatever the library wrote).
bool DbGetMailBoxUser(std::int32_t method, const char* login, const char* password, std::uint8_t* record,
                      std::string& domainOut, const char* ip,
                      bool fullAddress);                         // false
bool DbGetLocalUser(const char* address, std::uint8_t* record);  // false

}  // namespace core
