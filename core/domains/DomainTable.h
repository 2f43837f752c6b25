#pragma once
// The table of served domains (process-wide): its entries (DomainEntries.h)
// behind a reader-writer lock, the number of live entries kept in the
// settings record, the remembered last lookup, and the lookup of a domain by
// name (exact, punycode labels, address literals, the aliases of
// "subdomains.dat"). Loaded with the configuration from "domains.cfg" or an
// older form, written back with it. A domain is addressed by its index.
//
// Free-threaded callers may read while another thread adds, reloads or
// clears: the block is replaced only under the table's exclusive hold.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/domains/DomainEntries.h"

namespace core {

// ---- Load, convert, save ----------------------------------------------------

// Loads the table from the configuration folder's "domains.cfg", or, when
// that file does not exist, from the old list inside "settings.cfg". False
// when no source could be read: a missing source leaves an empty table; one
// that exists but cannot be read leaves an empty table and makes
// DomainListSave refuse to overwrite "domains.cfg" until a load succeeds.
bool DomainListLoad();
// Converts the older forms the last load found (the in-record table, the
// 32-byte layout) and marks the settings record as converted.
void DomainListMigrate();
// Frees the entries and forgets the last lookup (the count is not touched).
void DomainListClear();
// Writes the live entries to "domains.cfg" through a temporary file; false
// when not written (also while the last load could not read the file).
// Nothing is written (true) while the table is unchanged since it was read
// or written and the file exists: it keeps what another process wrote.
bool DomainListSave();
bool DomainTableUnreadable();
// After this process wrote "settings.cfg" (which holds the count).
void NoteSettingsFileWritten();
// Reads the table again, with the count from "settings.cfg", when either
// file changed since this process last read or wrote it (another process
// changed the domains). Call holding the installation lock, before a change
// of the table. True when it was read again.
bool DomainListReloadIfChanged();

// ---- Entries ----------------------------------------------------------------

// The number of live entries (settings record), refreshed from the back end
// first in storage mode 2 when a reload is pending.
std::uint32_t CountDomains();
// The count as it stands, without a refresh.
std::uint32_t DomainCount();

// Name of an entry, empty outside the table.
std::string DomainListGetName(int index);
// Dotted address of an entry, empty for 0.0.0.0 or outside the table.
std::string DomainListGetIP(int index);
// Stores a dotted address (an empty or unreadable text stores 0.0.0.0).
void DomainListSetIP(int index, std::string_view address);

// Appends an entry (lower-cased, at most 91 characters, address 0.0.0.0);
// see DomainEntries::Add for grow. Always true.
bool DomainListAdd(std::string_view name, std::uint32_t grow = 1);
// The entry's name becomes the new name (lower-cased, at most 91
// characters), its address stays. False for an index outside the table.
bool DomainListRename(int index, std::string_view newName);
// Removes the entry: the later entries move down with their addresses and
// the count falls (in memory, at once), then each moved domain's binding is
// written again as best effort. False for an index outside the live entries.
bool DomainListDelete(int index);

// Refills the table from the back end (storage mode 2): nothing changes
// when it reports no domains or cannot deliver them.
void ReloadDomainsFromDB();

// ---- Lookup -----------------------------------------------------------------

// Index of the domain a name from outside names, or -1: exact name, then
// (settings permitting) punycode labels, an address literal, and the aliases
// of "subdomains.dat" (followed at most 8 hops).
int DomainListIndexOf(std::string& name, bool noRefresh);
// DomainListIndexOf with the remembered last lookup; an unknown domain
// answers -1 when strict, else 0 (the first domain).
int DomainListFind(std::string_view name, bool strict = true);
// Whether the name, or the domain part of an address, is served.
bool DomainListExists(std::string_view name);

// The name-resolution steps, each on the name in place.
int ResolveIPLiteralDomain(std::string& name);
bool DecodeIDNName(std::string& name);
int ReadSubdomains(std::string& name);
// Resolution before a record is read by a name from outside.
void ResolveDomainName(std::string& name);

// For the lookup steps: the exact index of a lower-case name (-1), and the
// remembered last lookup.
int DomainListExactIndex(std::string_view name);
// A lookup takes DomainTableChanges() before it searches; its result is
// remembered only when the table has not changed since.
bool RecallLastLookup(std::string_view name, int& index);
// In one hold: the remembered index when the name is the last lookup's,
// else, with exact, the exact index of the name, then remembered; -1 when
// neither.
int DomainListRecallOrExact(std::string_view name, bool exact);
std::uint64_t DomainTableChanges();
void RememberLastLookup(std::string_view name, int index, std::uint64_t changesBefore);

// The domain's folder (configuration folder + name + "\"), or false when the
// name is not safe as a folder name; no path is ever built from such a name.
bool DomainFolder(std::string_view name, std::string& folder);

// Notes whether "subdomains.dat" exists in the configuration folder (the
// list itself is read at each lookup).
void NoteSubdomainList();
bool SubdomainListExists();

// Set when the configuration load connected the database back end: the
// table is then to be refilled from the back end before its next use.
void SetDomainReloadPending(bool pending);
bool DomainReloadPending();

}  // namespace core
