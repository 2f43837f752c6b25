#pragma once
// What the account exports and checks share above the account store: group
// resolution through the configuration folder's files, the uniqueness checks
// before an account is saved, the defaults of "default.ini", the mailbox
// folder's "domain.dat", the mailbox size walk and the safety check of a
// mailbox folder before it is deleted.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/accounts/AccountRecord.h"
#include "core/lists/Groups.h"

namespace core {

// "groups.dat" and its includes from the configuration folder (relative
// names) or as named (absolute ones), each parsed again only when its full
// last-write time or size changed.
GroupFiles& ConfigGroupFiles();

// Installs the group test and the mailbox hooks into the account store.
void InstallListHooks();

// The two checks answer in opposite senses: CheckNewAlias true = the aliases
// are free, CheckForMailbox true = the mailbox is taken.
//
// True (free) when no account of the domain has any alias of the list (groups
// resolved). A "users.cfg" that exists but cannot be read counts as a
// conflict, so that no duplicate is written meanwhile.
bool CheckNewAlias(std::string_view domainName, std::string_view aliases);

// True (a conflict) when another account already has this mailbox name with
// this password (the search covers the domains the binding rules name); false
// when the check is switched off or the password is empty. An account file
// that exists but cannot be read counts as a conflict.
bool CheckForMailbox(std::string_view mailbox, std::string_view password, std::string_view aliases, int domainIndex);

// The bare address split at its first "@"; without "@" the alias is the
// whole text and the domain the first domain's name.
void SplitEmailAddress(std::string_view address, std::string& alias, std::string& domain);

// Zeroes the record and applies "default.ini" of folder (empty: the parent of
// the configuration folder); globalOnly touches no record and reads only
// "DomainAdminRights=".
void ApplyDefaultsIni(bool isAccount, std::uint8_t* record, bool globalOnly, std::string_view folder);
// The text "DomainAdminRights=" gave at the last global read.
std::string DomainAdminRights();

// Writes "domain.dat" (one line, the text cut to 95 characters) into the
// account's mailbox folder unless it exists; creates the folder.
void WriteMailboxDomainFile(const AccountRecordBytes& record, std::string_view text);

// Adds the sizes of the ".imap" and ".tmp" files under folder (sub-folders
// too, links never followed) to size, their number to count, and lowers
// oldest to the oldest DOS date-time stamp among them.
void GetMailboxSize(const std::string& folder, std::uint64_t& size, std::uint32_t& count, std::uint32_t& oldest);

// Whether a mailbox folder may be deleted with everything below it: not a
// drive or share root, no "." or ".." part, not the mail root itself and not
// at or above the installation, configuration or mail folders.
bool IsDeletableMailboxFolder(const std::string& folder);

}  // namespace core
