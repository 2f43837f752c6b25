// VelmoraCOM.dll: the library's load and unload and its four exports, all
// over the COM server kit (core/com/ComServer.h). DllMain only notes the
// module: the units start at the first request for a class.
#include <windows.h>

#include "core/com/ComServer.h"
#include "core/platform/Boundary.h"
#include "sender/com/Classes.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      core::NoteServerModule(instance);
      break;
    case DLL_PROCESS_DETACH:
      // At process exit other threads are gone mid-flight; leave their locks alone.
      if (reserved == nullptr) {
        core::ReleaseServerTypeLibrary();
        sender::StopUnits();
      }
      break;
    default:
      break;
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return core::AtBoundary<HRESULT>(E_UNEXPECTED, [&] {
    sender::StartUnitsOnce();
    return core::ServerGetClassObject(sender::g_server, clsid, iid, out);
  });
}

STDAPI DllCanUnloadNow() { return core::ServerCanUnloadNow(); }

STDAPI DllRegisterServer() { return core::RegisterServer(sender::g_server); }

STDAPI DllUnregisterServer() { return core::UnregisterServer(sender::g_server); }
