#include "api/Session.h"

#include <windows.h>

#include <atomic>

#include "api/ExportGuard.h"
#include "api/StateGuard.h"
#include "core/accounts/RecordCaches.h"
#include "core/config/ConfigStore.h"
#include "core/config/InstallKey.h"
#include "core/control/ServiceControl.h"
#include "core/db/DbLibrary.h"
#include "core/platform/Files.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "core/util/PathText.h"
#include "core/util/Text.h"

namespace api {
namespace {

std::atomic<bool> g_initialised{false};
std::atomic<bool> g_changed{false};
std::atomic<std::uint32_t> g_settingsStamp{0};
std::atomic<core::ServiceNotifier*> g_notifier{nullptr};

core::ServiceNotifier& Notifier() {
  core::ServiceNotifier* installed = g_notifier.load();
  return installed != nullptr ? *installed : core::DefaultServiceNotifier();
}

}  // namespace

bool IsInitialised() { return g_initialised.load(); }
void MarkChanged() { g_changed.store(true); }
void ClearChanged() { g_changed.store(false); }
bool IsChanged() { return g_changed.load(); }

void SetSessionNotifier(core::ServiceNotifier* notifier) { g_notifier.store(notifier); }

std::uint32_t SettingsFileAge() { return core::GetFileStamp(core::ConfigFolder() + "settings.cfg"); }

std::int32_t InitSession(const char* path) {
  core::SetRequestedCacheCounts(AdministrationProfile.accountCacheEntries, AdministrationProfile.domainCacheEntries);
  if (path == nullptr) return InitFromInstallDir();

  g_initialised.store(false);
  std::string root = core::CutTo(core::NormalizePath(path, true, true), 255);
  core::SetRootFolder(root);
  core::SetConfigFolder(core::CutTo(root + "config\\", 255));
  if (AdministrationProfile.pathOverrides) core::ReadPathConfig(root);
  if (!core::InitServerConfig(true, false)) return API_SETTINGS_UNREADABLE;
  g_settingsStamp.store(SettingsFileAge());
  g_initialised.store(true);
  return API_OK;
}

std::int32_t InitFromInstallDir() {
  std::int32_t result = API_SETTINGS_UNREADABLE;
  try {
    std::string root = core::ReadMachineRegistryText(core::InstallKey, "InstallDir");
    // An empty value stays empty, so the load works relative to the current folder.
    if (!root.empty() && root.back() != '\\') root += '\\';
    root = core::CutTo(root, 255);
    result = InitSession(root.c_str());
    g_initialised.store(true);
  } catch (...) {
    // The fallback never fails its caller; the flag stays as it was.
  }
  return result;
}

void SaveConfigSession() {
  if (WriteConfigSession()) UpdateConfigurationSession();
}

bool WriteConfigSession() {
  g_changed.store(false);
  if (!core::SaveServerConfig()) {
    // Nothing was written (for instance an unreadable file is not replaced by
    // defaults): the change is still pending and the services have nothing new.
    g_changed.store(true);
    return false;
  }
  // Our own write must not look like a change made behind our back.
  g_settingsStamp.store(SettingsFileAge());
  return true;
}

void UpdateConfigurationSession() {
  static constexpr int order[] = {core::ServerSmtp, core::ServerPop3, core::ServerControl, core::ServerCalendaring,
                                  core::ServerInstantMessaging};
  for (int index : order) {
    try {
      Notifier().Notify(index, core::ConfigChangedMessage, 0, 0);
    } catch (...) {
      // A service that cannot be told is not the caller's failure.
    }
  }
}

std::int32_t ReloadServicesSession() {
  return Notifier().Notify(core::ServerControl, core::ReloadServicesMessage, 0, 0) != 0 ? 1 : 0;
}

void DoneSession() {
  if (g_changed.load()) SaveConfigSession();
  if (core::IsDBLoaded()) core::UnloadDBLibrary();
}

bool ReloadIfSettingsChanged() {
  StateGuard guard(StateHold::Exclusive);
  if (!guard.holds()) return false;
  // Loading again would drop a setting changed and not yet saved.
  if (g_changed.load()) return false;
  if (SettingsFileAge() == g_settingsStamp.load()) return false;
  InitSession(nullptr);
  return true;
}

void StartLibrary() {
  try {
    InitSession(core::HostProgramFolder().c_str());
  } catch (...) {
  }
  if (!g_initialised.load()) InitFromInstallDir();
}

}  // namespace api
