#pragma once
// The table of served domains: fixed 96-byte entries (length byte, up to 91
// name characters in lower case, IPv4 address in network byte order) kept in
// one block, with the number of live entries held in the settings record.
// Loaded with the configuration from "domains.cfg" and written back with it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

inline constexpr std::size_t DomainEntrySize = 96;
inline constexpr std::size_t DomainNameMaxLength = 91;
inline constexpr std::size_t DomainAddressOffset = 92;
// Bounds the memory a damaged count can claim (9.6 MB of entries).
inline constexpr std::uint32_t MaxDomainEntries = 100000;
// Where the domain list of older installations lies inside "settings.cfg",
// scrambled as a continuation of the settings record (key index 8).
inline constexpr std::uint64_t LegacyDomainListOffset = 20344;
// The address that says "the domain's bindings are in its bind.dat".
inline constexpr std::string_view DomainBindMarker = "255.255.255.255";

// Loads the table from the configuration folder's "domains.cfg", or, when
// that file does not exist, from the old list inside "settings.cfg". The
// table holds count entries (a count above MaxDomainEntries is capped and
// stored capped); entries the file does not hold stay empty. False when no
// source could be read: a missing source leaves an empty table; a source that
// exists but cannot be read leaves an empty table and makes DomainListSave
// refuse to overwrite "domains.cfg" until a load succeeds. The count is kept.
bool DomainListLoad();

// Frees the entries (the count in the settings record is not touched).
void DomainListClear();

// Writes min(count, entries) entries to "domains.cfg" through a temporary
// file; false when not written (also while the last load could not read the
// existing file).
bool DomainListSave();

// Whether the last load found a domain list it could not read.
bool DomainTableUnreadable();

// The number of served domains (settings record).
std::uint32_t DomainCount();

// Name of an entry, empty outside the table.
std::string DomainListGetName(int index);
// Dotted address of an entry, empty for 0.0.0.0 or outside the table.
std::string DomainListGetIP(int index);
// Stores a dotted address (an empty or unreadable text stores 0.0.0.0).
void DomainListSetIP(int index, std::string_view address);

// Index of the live entry with exactly this name (compared in lower case), or -1.
int DomainListFind(std::string_view name);
bool DomainListExists(std::string_view name);

// Notes whether "subdomains.dat" exists in the configuration folder (the
// list itself is read at each lookup).
void NoteSubdomainList();
bool SubdomainListExists();

// Set when the configuration load connected the database back end: the
// table is then to be refilled from the back end before its next use.
void SetDomainReloadPending(bool pending);
bool DomainReloadPending();

}  // namespace core
