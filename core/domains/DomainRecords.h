#pragma once
// Domain records: the 913-byte "domain.cfg" in each domain's folder,
// scrambled from key index 0, or the database back end's copy in storage
// mode 2; and the files and back-end rows that follow a domain when it is
// added, renamed or deleted.
#include <cstdint>
#include <string_view>

#include "core/domains/DomainCache.h"

namespace core {

// Reads the record of a domain named from outside (the name is lower-cased
// and resolved: literals, punycode, aliases); with useCache the domain cache
// is asked first and filled after a file read. The record is all zero when
// nothing gave it (false). fast: the cache's 30-second validity.
bool LoadDomainConfig(std::string_view name, DomainRecordBytes& record, bool useCache, bool fast = false);

// The record of the domain at index, by the table's name as it stands.
bool ReadDomainRecord(DomainRecordBytes& record, int index);

// Stores the record of the domain at index: in storage mode 2 in the back end
// (whose answer is the result), and always as its "domain.cfg" (the only
// copy in file mode, a mirror in mode 2), written through a temporary file.
// The caller's record is never changed.
bool WriteDomainRecord(const DomainRecordBytes& record, int index);

// In storage mode 2 the back end's answer to adding the domain; else true.
bool AddDomainRecord(std::string_view name);

// Renames a domain (found leniently, so aliases name it too): its folder is
// moved first, then the back end's row, then the table entry; a failing
// step undoes the earlier ones, so nothing changes unless all succeed. Renaming to the name it has
// is a successful no-op.
bool RenameDomainRecord(std::string_view oldName, std::string_view newName);

// Deletes the back end's row (mode 2) and "domain.cfg", "users.cfg" and
// "users.upd" of the domain's folder, then the folder when it is empty.
bool DeleteDomainRecord(int index);

// Removes the table entry (DomainListDelete); always true.
bool UnlistDomain(int index);

}  // namespace core
