#pragma once
// The sending library's view of the server's configuration: it finds the
// installation in the registry, loads the settings through the start-up
// sequence with the sending profile (core/startup, SendingProfile), looks
// accounts up by address in the files or the database back end through the
// account cache, and names the services "Tolum...". It writes nothing.
//
// One reader-writer lock covers this configuration (the folders, the
// settings record, the domain table, the caches and the back-end binding as
// the sending library sees them): a load holds it exclusively from the
// registry read to the end, lookups hold it shared, so no lookup sees half a
// load. It comes first in the lock order (core/platform/LockTable.h).
#include <cstdint>
#include <string>
#include <string_view>

#include "core/accounts/AccountRecord.h"
#include "core/control/ServiceControl.h"

namespace sender {

// Under HKEY_LOCAL_MACHINE; its REG_SZ value "InstallDir" names the
// installation folder.
inline constexpr const char* SendingInstallKey = "Software\\Velmora\\Tolum Mail Server";
inline constexpr const char* InstallDirValue = "InstallDir";

// Finds the installation and loads its configuration: the configuration
// folder is "InstallDir" (normalised, with a trailing "\\") + "config\\",
// the root its parent, and the load runs with missingIsFailure and
// stopBeforeBackEnd both off, then hands the IPv6 default and the DNS server
// list to the socket layer. False, with nothing loaded, when the key or
// value is missing, the value is empty or no REG_SZ, or the configuration
// folder would exceed 255 characters; also when called inside a
// SendingConfigHold of the same thread (the load would wait for itself).
// Every creation of an instant message calls it.
bool LoadSendingConfig();

// The account that the address names, copied into record as stored. Not
// found (false, record all zero) for an empty alias, one holding ";" or
// beginning with "[" or "{", an address over 255 characters, an unserved
// domain, a storage mode other than 0, 1 and 2, a back end that is not
// loaded, no matching account, or a failing back end. Files: the domain's
// "users.cfg" (named by the domain table), then, when configuration setting
// 88 is on and the domain's setting 1 is 0, every served domain's in table
// order (not cached). Storage mode 2: the back end's DBGetLocalUser with
// alias + "@" + domain as written. With useCache the account cache answers
// first (files: while "users.cfg" is unchanged; back end: for 30 seconds
// after the store) and is filled from what was read.
bool FindAccountByAddress(std::string_view address, core::AccountRecordBytes& record, bool useCache);

// A shared hold of the sending configuration, for a caller that looks up
// and then acts on what it found: the instant-message probe, from the
// account lookup to the read of "Last.dat". Nothing that may wait long (a
// file lock, a pipe) runs inside it, since a load waits for every hold.
// Re-entrant on one thread; lookups inside take no second hold.
class SendingConfigHold {
 public:
  SendingConfigHold();
  ~SendingConfigHold();
  SendingConfigHold(const SendingConfigHold&) = delete;
  SendingConfigHold& operator=(const SendingConfigHold&) = delete;

 private:
  bool outermost_ = false;
};

// The names of the services as the sending library addresses them.
const core::ServiceNaming& SendingServiceNaming();
// "Tolum" + the kind's pipe suffix; "Tolum" alone for an unknown kind.
std::string GetServicePipeName(int kind);

}  // namespace sender
