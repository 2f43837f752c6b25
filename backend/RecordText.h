#pragma once
// The texts the back end stores and compares: keys of domain names, aliases
// and mailbox names (ASCII letters folded, every other byte kept as it is),
// the short-string fields of the records, logins and addresses, and the
// folder of the default database. Portable: no operating-system call.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace backend {

// The domain table holds names of at most 91 characters; the database holds
// the same names, so a name cut by the table still finds its row.
constexpr std::size_t DomainNameLength = 91;
// Longest alias list the statements take in one go; longer lists are looked
// up in slices of this many.
constexpr std::size_t AliasSlice = 16;

// Stored form of a domain name: trimmed, ASCII lower case, cut to 91 bytes.
std::string DomainKey(std::string_view name);

// Stored forms of the items of a ";" alias list: trimmed, ASCII lower case,
// empty items left out, each item once, in list order.
std::vector<std::string> AliasKeys(std::string_view list);

// True when the two alias lists share an item (as AliasKeys gives them).
bool ShareAlias(std::string_view a, std::string_view b);

// A short string inside a record: a length byte, then at most maxLength bytes.
std::string ShortText(const std::uint8_t* record, std::size_t offset, std::size_t maxLength);
void PutShortText(std::uint8_t* record, std::size_t offset, std::size_t maxLength, std::string_view text);

// Offsets of the account record fields the back end reads (the same as
// core/db/DbInterface.h gives, which is not portable; Store.cpp checks them).
constexpr std::size_t AliasOffset = 260;
constexpr std::size_t MailboxOffset = 516;
constexpr std::size_t PasswordOffset = 772;

// Fields of an account record that the back end reads.
std::string AccountAliases(const std::uint8_t* record);
std::string AccountPassword(const std::uint8_t* record);
// Stored form of the mailbox name: ASCII lower case, as long as it is.
std::string MailboxKey(const std::uint8_t* record);

// Plain password comparison whose time does not depend on where the texts
// first differ.
bool SamePassword(std::string_view stored, std::string_view given);

// "alias@domain" split at the first "@" (the login trimmed first).
struct SplitAddress {
  bool hasAt = false;
  std::string alias;
  std::string domain;
};
SplitAddress SplitAtSign(std::string_view text);

// The configuration folder of an installation: line 1 of its "path.cfg"
// (comments stripped, trimmed, with a trailing "\") when that line is not
// empty, else the installation folder + "config\".
std::string ConfigFolderOf(const std::string& installFolder, const std::vector<std::string>& pathLines);

// Lines of a text file's bytes (CR LF or LF).
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace backend
