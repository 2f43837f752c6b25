#include "core/startup/LibraryStart.h"

#include <windows.h>

#include "core/ldap/LdapSync.h"
#include "core/mime/LocalTimeZone.h"
#include "core/mime/MailDate.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "core/util/Numbers.h"

namespace core {
namespace {

// The regional decimal sign for fixed-point number texts.
char RegionalDecimalSign() {
  char text[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, text, sizeof text) > 0 && text[0] != '\0') return text[0];
  return '.';
}

// Set once, at library load, before any load reads it.
LibraryProfile g_profile;

}  // namespace

const LibraryProfile& ActiveLibraryProfile() { return g_profile; }

void StartLibraryUnits(const LibraryProfile& profile) {
  g_profile = profile;
  CreateLockTable(true);
  InitPlatformUnit();
  SetDecimalSignProvider(&RegionalDecimalSign);
  SetTimeZoneSource(&WindowsTimeZone);
  SetRequestedCacheCounts(profile.accountCacheEntries, profile.domainCacheEntries);
  InstallUnitHooks();
}

void StopLibraryUnits() {
  FinaliseLdapUnit();
  FreeRecordCaches();
  DonePlatformUnit();
  CreateLockTable(false);
}

}  // namespace core
