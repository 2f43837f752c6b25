// The export: the grant over the table resolved from the system library for
// this one call.
#include "include/Tavisheen.h"
#include "installer/tavisheen/LogonRight.h"

extern "C" int32_t TAVISHEEN_CALL AddLogonAsService(const char* account, char* message) {
  const tavisheen::ResolvedLsaCalls resolved;
  return tavisheen::AddLogonAsService(resolved.calls(), account, message);
}
