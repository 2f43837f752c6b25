#pragma once
// The uniqueness checks of AccountLists.h answered from a per-domain index
// instead of a walk over every account, so that adding many accounts does
// not read the whole account file (of every domain) once per account.
//
// A domain's index holds, for its "users.cfg":
// - the trimmed, lower-cased items of every alias list (empty items too);
// - the alias lists that hold a group reference, kept whole and matched one
//   by one, since their members follow "groups.dat";
// - the (mailbox name, password) pairs with the alias lists that hold them.
// It is built in one scan of the file in blocks and stays valid while the
// file's full last-write time, its size and this library's count of changes
// to it are unchanged; NoteAccountChange updates it after the library's own
// writes. The answers are those of the walking checks: storage mode 2, and a
// file that cannot be read whole, are answered by the walking checks.
#include <string_view>

#include "core/accounts/AccountRecord.h"

namespace core {

// CheckNewAlias(domainName, aliases): true = the aliases are free.
bool IndexedCheckNewAlias(std::string_view domainName, std::string_view aliases);

// CheckForMailbox(mailbox, password, aliases, domainIndex): true = the
// mailbox is taken.
bool IndexedCheckForMailbox(std::string_view mailbox, std::string_view password, std::string_view aliases,
                            int domainIndex);

// After this library changed one record of the domain's account file:
// removed is the record taken out or replaced, added the record written
// (either may be null). The index follows when that was the only change
// since it was built; otherwise it is dropped and built again when needed.
void NoteAccountChange(std::string_view domainName, const AccountRecordBytes* removed, const AccountRecordBytes* added);

// Drops every index (domains renamed or deleted, configuration reloaded).
void ForgetAccountIndexes();

}  // namespace core
