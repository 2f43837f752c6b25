#pragma once
// Calling interface of the database back end "DB.dll", shared by the loader
// and by every library that implements the back end.
//
// Every entry point is __stdcall and exported by its bare name. Texts are
// zero-terminated 8-bit strings; records travel by pointer at the fixed sizes
// below; every result is a 32-bit integer, where a boolean answer is non-zero
// for true.
#include <cstdint>
#include <type_traits>

namespace core {

constexpr int DbDomainRecordSize = 913;    // domain record
constexpr int DbAccountRecordSize = 2848;  // account record
constexpr int DbDomainEntrySize = 96;      // one domain table entry
constexpr int DbEnumerationSize = 3296;    // account walk block
constexpr int DbDomainNameOutSize = 256;   // domain name handed back by DBGetMailBoxUser

// Offsets inside the account walk block; the back end shares this layout.
constexpr int DbEnumRecordOffset = 0;       // current account record
constexpr int DbEnumOpenOffset = 2848;      // open flag (byte)
constexpr int DbEnumPositionOffset = 3184;  // 32-bit position, -1 before the first
constexpr int DbEnumCountOffset = 3188;     // 32-bit number of accounts
constexpr int DbEnumDomainOffset = 3196;    // domain name, short string (at most 95)
constexpr int DbEnumOptionOffset = 3292;    // option byte, passed through

// Offsets inside an account record that the back end reads.
constexpr int DbAccountAliasOffset = 260;     // alias list, short string, ";"-separated
constexpr int DbAccountMailboxOffset = 516;   // mailbox name, short string (at most 127)
constexpr int DbAccountPasswordOffset = 772;  // password, short string (at most 127)

// Connection: the connection text from the settings; answer ignored.
using DBSetConnectionProc = std::int32_t(__stdcall*)(const char* connection);
using DBReloadConfigProc = std::int32_t(__stdcall*)();
using DBDoneConnectionProc = std::int32_t(__stdcall*)();

// Domains. DBGetDomain fills a 913-byte record; DBGetDomains fills count
// 96-byte domain table entries.
using DBGetDomainProc = std::int32_t(__stdcall*)(const char* domain, std::uint8_t* record);
using DBSetDomainProc = std::int32_t(__stdcall*)(const char* domain, const std::uint8_t* record);
using DBAddDomainProc = std::int32_t(__stdcall*)(const char* domain);
using DBDeleteDomainProc = std::int32_t(__stdcall*)(const char* domain);
using DBRenameDomainProc = std::int32_t(__stdcall*)(const char* oldName, const char* newName);
using DBSetDomainIPProc = std::int32_t(__stdcall*)(const char* domain, const char* binding);
using DBGetDomainCountProc = std::int32_t(__stdcall*)();
using DBGetDomainsProc = std::int32_t(__stdcall*)(std::uint8_t* entries, std::int32_t count);

// Accounts. DBSaveUsers stores at index, -1 (or the account count) appends.
// DBGetUsers answers the number of accounts of the domain (0 when none or the
// domain is unknown; negative when they could not be read) and fills the
// record when the index lies inside.
// DBDeleteUsers deletes in the domain that the latest DBGetUsers named, so
// callers pair the two under one hold of the database lock.
// DBGetUsersIndex answers the index of the first account sharing an alias
// with the list, or a negative number.
using DBSaveUsersProc = std::int32_t(__stdcall*)(const char* domain, const std::uint8_t* record, std::int32_t index);
using DBGetUsersProc = std::int32_t(__stdcall*)(const char* domain, std::uint8_t* record, std::int32_t index);
using DBDeleteUsersProc = std::int32_t(__stdcall*)(std::int32_t index);
using DBGetUsersIndexProc = std::int32_t(__stdcall*)(const char* domain, const char* aliases);

// Account walk over the 3,296-byte block. DBInitUsers answers non-zero when the
// walk is open; start is -1 (the position before the first account).
// DBNextUser answers 0 when it placed the next account in the block and
// non-zero at the end.
using DBInitUsersProc = std::int32_t(__stdcall*)(const char* domain, std::uint8_t* block, std::int32_t start,
                                                 std::int32_t skipCount, const char* filter);
using DBNextUserProc = std::int32_t(__stdcall*)(std::uint8_t* block);
using DBDoneUsersProc = std::int32_t(__stdcall*)(std::uint8_t* block);

// Checks, in opposite senses. DBCheckNewAlias: true (free) when no account of
// the domain has one of the aliases. DBCheckForMailbox: true (a conflict)
// when another account already has this mailbox name with this password.
using DBCheckNewAliasProc = std::int32_t(__stdcall*)(const char* domain, const char* aliases);
using DBCheckForMailboxProc = std::int32_t(__stdcall*)(const char* mailbox, const char* password, const char* aliases,
                                                       std::int32_t usesBinding, const char* domain);

// Login: true when accepted; then the account record is filled and the
// account's domain name written to domainOut (DbDomainNameOutSize bytes,
// zero-terminated).
using DBGetMailBoxUserProc = std::int32_t(__stdcall*)(std::int32_t method, const char* login, const char* password,
                                                      std::uint8_t* record, char* domainOut, const char* ip,
                                                      std::int32_t fullAddress);
// Account by address "alias@domain": true when found, record filled.
using DBGetLocalUserProc = std::int32_t(__stdcall*)(const char* address, std::uint8_t* record);

}  // namespace core

// Every entry point by name, for checks that must cover all of them.
// clang-format off
#define DB_ENTRY_POINTS(X) \
  X(DBSetConnection) \
  X(DBReloadConfig) \
  X(DBDoneConnection) \
  X(DBGetDomain) \
  X(DBSetDomain) \
  X(DBAddDomain) \
  X(DBDeleteDomain) \
  X(DBRenameDomain) \
  X(DBSetDomainIP) \
  X(DBGetDomainCount) \
  X(DBGetDomains) \
  X(DBSaveUsers) \
  X(DBGetUsers) \
  X(DBDeleteUsers) \
  X(DBGetUsersIndex) \
  X(DBInitUsers) \
  X(DBNextUser) \
  X(DBDoneUsers) \
  X(DBCheckNewAlias) \
  X(DBCheckForMailbox) \
  X(DBGetMailBoxUser) \
  X(DBGetLocalUser)
// clang-format on

// An exporting library states that its entry points keep these signatures.
#define DB_CHECK_SIGNATURE(name) static_assert(std::is_same_v<decltype(&name), core::name##Proc>);
#define DB_CHECK_ALL_SIGNATURES() DB_ENTRY_POINTS(DB_CHECK_SIGNATURE)
