// The two exports and the module handle their string table is loaded from.
#include <windows.h>

#include "include/Pellacor.h"
#include "installer/pellacor/Bridge.h"

namespace {
HMODULE g_module = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" int32_t PELLACOR_CALL SetKTZConfigSetting(PellacorHostTable* table) {
  return pellacor::SetSetting(g_module, table);
}

extern "C" int32_t PELLACOR_CALL GetKTZConfigSetting(PellacorHostTable* table) {
  return pellacor::GetSetting(g_module, table);
}
