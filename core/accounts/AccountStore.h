#pragma once
// The accounts of each domain ("users.cfg" in the domain's folder, an array
// of 2,848-byte scrambled records; an account's index is its position) and
// the server's remote accounts ("remote.cfg" in the configuration folder,
// 1,828-byte records), in the files or, in storage mode 2, through the
// database back end. In storage mode 2 without a loaded back end nothing is
// found and nothing written.
#include <cstdint>
#include <string_view>

#include "core/accounts/AccountRecord.h"

namespace core {

// ---- Accounts -----------------------------------------------------------------

// The number of accounts of the domain (0 when none or unreadable); the
// record at index is copied out when it exists (else record is untouched).
// failed, when given, is set when the accounts are known to be unreadable
// (storage mode 2 without an answering back end), so that a caller can tell
// that from an empty domain.
std::int32_t ReadAccountRecord(int domainIndex, AccountRecordBytes& record, std::int32_t index, bool* failed = nullptr);

// The position of the first account whose alias list matches the list
// (groups resolved), -1 when none.
std::int32_t FindAccountIndex(int domainIndex, std::string_view aliases);

// The files alone, whatever the storage mode: the first account of the
// domain's "users.cfg" whose alias list matches (groups resolved), copied
// into record from the same read that matched it; false when none matches
// or the file cannot be opened (record is then untouched). A partial record
// at the end of the file (an append in progress) is no account.
bool FindAccountRecordInFile(int domainIndex, std::string_view aliases, AccountRecordBytes& record);

// Writes the record at index, or appends it when index is -1 or the count.
// Refused: an empty alias list, an index below -1 or above the count. The
// caller's record is never changed.
bool WriteAccountRecord(int domainIndex, const AccountRecordBytes& record, std::int32_t index);

// Deletes the account at index (through a temporary copy moved over the
// file); its data file and directory entry go only once that succeeded.
// False for an index outside the file, and when the file could not be
// replaced (the original then stays as it was). removed, when given,
// receives the record that was taken out (read under the same hold).
bool DeleteAccountRecord(int domainIndex, std::int32_t index, AccountRecordBytes* removed = nullptr);

// Deletes the data file of an account of kind 3, 4 or 5, only when it lies
// inside the installation's root folder.
void DeleteAccountDataFile(const AccountRecordBytes& record);

// ---- Remote accounts (always files) ---------------------------------------------

std::int32_t ReadRemoteAccounts(RemoteAccountRecordBytes& record, std::int32_t index);
// Index -1 (or the count) appends; the POP3 service is told afterwards.
bool WriteRemoteAccount(const RemoteAccountRecordBytes& record, std::int32_t index);
// Deletes the remote account and, after that succeeded, its state file and
// the files named by it with ".hdr", ".dom" and ".rt"; the POP3 service is
// told afterwards. False for an index outside the file.
bool DeleteRemoteAccount(std::int32_t index);

// ---- Walking a domain's accounts ---------------------------------------------------

// The caller-owned 3,296-byte walk block. The library keeps its own record
// of every block it opened (mode, file, read-ahead), so what a caller leaves
// in the block cannot mislead it; an unknown block is at its end.
inline constexpr std::size_t AccountEnumerationSize = 3296;

bool InitUsers(std::string_view domainName, std::uint8_t* block, std::string_view filter, std::uint8_t option,
               std::int32_t skipCount);
// 0 when the next account was placed in the block, 1 at the end or on error.
std::int32_t NextUser(std::uint8_t* block);
// Closes what InitUsers opened (also when the storage mode changed since).
void DoneUsers(std::uint8_t* block);

}  // namespace core
