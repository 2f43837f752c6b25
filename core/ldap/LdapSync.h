#pragma once
// Directory synchronisation: after the account store wrote or deleted a
// mailbox account, its inetOrgPerson entry is added, replaced or deleted in
// the directory the settings name (server list, port), under the suffix and
// with the root DN of the installation's "ldap\slapd.conf". Synchronisations
// are serialised by lock 1; whatever happens, the account operation that
// triggered one is not affected and nothing is reported to its caller.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/accounts/AccountHooks.h"
#include "core/ldap/SlapdConfig.h"

namespace core {

// The account store's hook. Only kind-0 accounts are synchronised. A write
// that renames the first alias, or turns a kind-0 account into another kind,
// also deletes the entry of the replaced record. A modify of a missing entry
// adds it; an add of an existing one replaces it.
void SyncUserToLDAP(SyncMode mode, const AccountRecordBytes& record, const AccountRecordBytes* replaced,
                    std::string_view domain);

// Reads the directory settings: host program folder + "ldap\slapd.conf",
// else the registry's installation folder + the same. Runs once, at the first
// synchronisation, whatever the outcome: without the file, synchronisation
// stays off until the unit is finalised (the library is loaded again).
bool ReadSlapdConfig();

// Forgets the directory settings and frees the LDAP client (the library's
// unit finalisation; tests use it to start afresh).
void FinaliseLdapUnit();

// Whether an address is exempt through configuration folder +
// "ldapbypass.dat" (asked only while that file exists): true when the
// address is listed there, and then its entry is left alone. Until a test is
// installed no address is exempt.
using LdapBypassTest = std::function<bool(std::string_view address, const std::string& file)>;
void SetLdapBypassTest(LdapBypassTest test);

// ---- Test seam: what the latest synchronisation did -------------------------

struct LdapOperation {
  std::string kind;  // "bind", "add", "modify", "delete"
  std::string dn;    // as sent
  int result = 0;    // LDAP result code; -1 when the request was not sent
};
struct LdapSyncOutcome {
  std::string dn;  // the entry of the written or deleted record; empty when not synchronised
  std::vector<LdapOperation> operations;
};
LdapSyncOutcome LastLdapSyncOutcome();

}  // namespace core
