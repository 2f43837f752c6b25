// Library load and unload: unit initialisation first (the lock table among
// it), then the session start; unload frees what the units hold.
#include <windows.h>

#include "api/ExportSupport.h"
#include "api/Session.h"
#include "core/accounts/RecordCaches.h"
#include "core/antispam/RuleFilesWin.h"
#include "core/ldap/LdapSync.h"
#include "core/mime/LocalTimeZone.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "core/util/Numbers.h"

namespace {

// The regional decimal sign for fixed-point number texts.
char RegionalDecimalSign() {
  char text[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text) > 0 && text[0] != '\0') return text[0];
  return '.';
}

void InitialiseUnits() {
  core::CreateLockTable(true);
  core::InitPlatformUnit();
  core::SetDecimalSignProvider(&RegionalDecimalSign);
  core::SetTimeZoneSource(&core::WindowsTimeZone);
  core::InstallUnitHooks();
}

void FinaliseUnits() {
  api::FreeEnumerations();
  core::UnloadSpamAssassinRules(core::RuleVariant::Api);
  core::FinaliseLdapUnit();
  core::FreeRecordCaches();
  core::DonePlatformUnit();
  core::CreateLockTable(false);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      DisableThreadLibraryCalls(instance);
      InitialiseUnits();
      api::StartLibrary();
      break;
    case DLL_PROCESS_DETACH:
      // At process exit other threads are gone mid-flight; leave their locks alone.
      if (reserved == nullptr) FinaliseUnits();
      break;
    default:
      break;
  }
  return TRUE;
}
