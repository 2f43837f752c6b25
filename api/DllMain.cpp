// Library load and unload: the units' start (the lock table among it) with
// this library's profile, then the session start; unload frees what the
// units hold.
#include <windows.h>

#include "api/ExportSupport.h"
#include "api/Session.h"
#include "core/antispam/RuleFilesWin.h"
#include "core/startup/LibraryStart.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      core::StartLibraryUnits(api::AdministrationProfile);
      api::StartLibrary();
      break;
    case DLL_PROCESS_DETACH:
      // At process exit other threads are gone mid-flight; leave their locks alone.
      if (reserved == nullptr) {
        api::FreeEnumerations();
        core::UnloadSpamAssassinRules(core::RuleVariant::Api);
        core::StopLibraryUnits();
      }
      break;
    default:
      break;
  }
  return TRUE;
}
