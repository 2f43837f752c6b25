// Library load and unload: the units' start (the lock table among it) with
// this library's profile, then the session start; unload frees what the
// units hold. The automation classes' factories are the static rows of
// their class table (api/automation/Classes.cpp), there before this runs;
// DllMain only notes the module for them, and their type library is loaded
// at the first call that needs it, never here.
#include <windows.h>

#include "api/ExportSupport.h"
#include "api/Session.h"
#include "api/automation/Classes.h"
#include "core/antispam/RuleFilesWin.h"
#include "core/com/ComServer.h"
#include "core/startup/LibraryStart.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      core::NoteServerModule(instance);
      core::StartLibraryUnits(api::AdministrationProfile);
      api::StartLibrary();
      break;
    case DLL_PROCESS_DETACH:
      // At process exit other threads are gone mid-flight; leave their locks alone.
      if (reserved == nullptr) {
        core::ReleaseServerTypeLibrary();
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

// The in-process server's four exports, over the COM server kit.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return core::ServerGetClassObject(api::automation::g_server, clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return core::ServerCanUnloadNow(); }

STDAPI DllRegisterServer() { return core::RegisterServer(api::automation::g_server); }

STDAPI DllUnregisterServer() { return core::UnregisterServer(api::automation::g_server); }
