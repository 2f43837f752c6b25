#pragma once
// The one start and stop of the core units for each library that links them
// (its DllMain calls these): the lock table, the platform unit, the regional
// decimal sign, the local time-zone source and the hooks between the units
// (core/startup/ConfigLoad.h). Every library starts the units here, so none
// runs with a hook missing (mail dates would read "-0000", accounts would
// not reach the directory or their welcome messages).
#include <cstddef>
#include <cstdint>

#include "core/accounts/RecordCaches.h"
#include "core/antispam/RuleFiles.h"
#include "core/config/SettingsRecord.h"
#include "core/control/ServiceControl.h"

namespace core {

// What differs between the libraries at start and at each configuration load.
struct LibraryProfile {
  // The entries each record cache asks for at every load besides the
  // cache-size setting (0: the setting alone sizes the caches).
  std::uint32_t accountCacheEntries = DefaultCacheEntries;
  std::uint32_t domainCacheEntries = DefaultCacheEntries;
  // Whether "path.cfg" beside the installation may place its folders.
  bool pathOverrides = true;
  // The bytes of "settings.cfg" the load takes; the record's bytes beyond
  // keep what they held.
  std::size_t settingsLength = SettingsRecordSize;
  // Whether every folder of the record is placed under the root folder, also
  // a relative one and also without "settings.cfg": for a library whose host
  // may be any program, started in any current folder.
  bool foldersUnderRoot = false;
  // Whose build of the rule-file reader the anti-spam step loads.
  RuleVariant rules = RuleVariant::Api;
  // The names of the services the library addresses.
  ServiceNaming naming = ParlinexNaming;
};

// The sending library: caches of 32 entries each, no "path.cfg", the first
// 20,856 bytes of "settings.cfg", its own rule-file reader, the "Tolum"
// services.
inline constexpr LibraryProfile SendingProfile{.accountCacheEntries = 32,
                                               .domainCacheEntries = 32,
                                               .pathOverrides = false,
                                               .settingsLength = 20856,
                                               .foldersUnderRoot = true,
                                               .rules = RuleVariant::Sender,
                                               .naming = TolumNaming};

// Installs every unit and hook; call once, at library load.
void StartLibraryUnits(const LibraryProfile& profile);
// Frees what the units hold; call once, at library unload (not at process
// exit, where other threads stopped mid-flight may hold the locks).
void StopLibraryUnits();

// The profile of the last StartLibraryUnits (the default one before); the
// configuration load follows it.
const LibraryProfile& ActiveLibraryProfile();

}  // namespace core
