#pragma once
// The library's session: start, stop, save and the notices to the running
// services. The exported functions wrap these with the state lock and the
// exception boundary; these functions take no lock themselves.
#include <cstdint>
#include <string>

#include "core/startup/LibraryStart.h"

namespace core {
struct ServiceNotifier;
}

namespace api {

// This library's start and load: its caches are sized by the cache-size
// setting alone, and "path.cfg" may place the folders.
inline constexpr core::LibraryProfile AdministrationProfile{
    .accountCacheEntries = 0, .domainCacheEntries = 0, .pathOverrides = true};

bool IsInitialised();
void MarkChanged();
// A restore replaced the files the pending change would be saved over.
void ClearChanged();
bool IsChanged();

std::int32_t InitSession(const char* path);
std::int32_t InitFromInstallDir();
void DoneSession();
void SaveConfigSession();
// SaveConfigSession without the notices: true when the configuration was
// written. Callers that hold the state lock send the notices after leaving it.
bool WriteConfigSession();
void UpdateConfigurationSession();
std::int32_t ReloadServicesSession();

std::uint32_t SettingsFileAge();
// Re-initialises from the registry's folder when "settings.cfg" changed since
// the last Init, unless a setting was changed and not yet saved. Holds the state exclusively (api/StateGuard.h): a
// caller that holds it exclusively already may call it; under a shared hold it is refused and answers false.
bool ReloadIfSettingsChanged();

// Runs when the library is loaded: Init with the host program's folder, then
// the registry fallback when that did not initialise the library.
void StartLibrary();

// Seam: the notifier the session sends its notices through (the real control
// channel unless a test installs another).
void SetSessionNotifier(core::ServiceNotifier* notifier);

}  // namespace api
