#pragma once
// The one start and stop of the core units for each library that links them
// (its DllMain calls these): the lock table, the platform unit, the regional
// decimal sign, the local time-zone source and the hooks between the units
// (core/startup/ConfigLoad.h). Every library starts the units here, so none
// runs with a hook missing (mail dates would read "-0000", accounts would
// not reach the directory or their welcome messages).
#include <cstdint>

#include "core/accounts/RecordCaches.h"

namespace core {

// What differs between the libraries at start and at each configuration load.
struct LibraryProfile {
  // The entries each record cache asks for at every load besides the
  // cache-size setting (0: the setting alone sizes the caches).
  std::uint32_t accountCacheEntries = DefaultCacheEntries;
  std::uint32_t domainCacheEntries = DefaultCacheEntries;
  // Whether "path.cfg" beside the installation may place its folders.
  bool pathOverrides = true;
};

// The sending library: both record caches have 32 entries at every load,
// and "path.cfg" is not applied.
inline constexpr LibraryProfile SendingProfile{
    .accountCacheEntries = 32, .domainCacheEntries = 32, .pathOverrides = false};

// Installs every unit and hook; call once, at library load.
void StartLibraryUnits(const LibraryProfile& profile);
// Frees what the units hold; call once, at library unload (not at process
// exit, where other threads stopped mid-flight may hold the locks).
void StopLibraryUnits();

}  // namespace core
