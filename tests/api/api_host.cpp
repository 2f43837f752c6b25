// A host program for the load-time start of Api.dll: placed in a fixture
// folder beside a copy of the library, it loads it by name (so the library
// sees this program's folder) and prints what the library started on.
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "include/Api.h"

int main() {
  HMODULE api = LoadLibraryA("Api.dll");
  if (api == nullptr) {
    std::printf("load-failed %lu\n", GetLastError());
    return 1;
  }
  auto get =
      reinterpret_cast<ApiGetConfigSettingProc>(reinterpret_cast<void*>(GetProcAddress(api, "GetConfigSetting")));
  if (get == nullptr) return 1;
  char folder[256] = {};
  std::int32_t length = get(170, folder, 255);
  std::printf("config=%s\n", length > 0 ? folder : "");
  std::uint16_t value = 0;
  std::int32_t result = get(12, &value, 2);
  std::printf("get12=%d value=%u\n", result, value);
  FreeLibrary(api);
  return 0;
}
