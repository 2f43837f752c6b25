// Example of the main job: load Api.dll as any client would, start a session
// on a fresh installation folder, save the configuration and end the session,
// printing every result code and the files the library wrote.
//
//   walkthrough.exe <Api.dll> <installation folder>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "include/Api.h"

namespace {

template <typename Proc>
Proc Export(HMODULE library, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

void ListFiles(const std::string& folder, const std::string& prefix) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      std::printf("  %s%s\\\n", prefix.c_str(), name.c_str());
      ListFiles(folder + name + "\\", prefix + name + "\\");
    } else {
      std::printf("  %s%s (%lu bytes)\n", prefix.c_str(), name.c_str(), found.nFileSizeLow);
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: walkthrough <Api.dll> <installation folder>\n");
    return 2;
  }
  std::string root = argv[2];
  if (root.back() != '\\') root += '\\';
  CreateDirectoryA(root.c_str(), nullptr);

  HMODULE api = LoadLibraryA(argv[1]);
  if (api == nullptr) {
    std::fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  const auto init = Export<ApiInitProc>(api, "Init");
  const auto saveConfig = Export<ApiVoidProc>(api, "SaveConfig");
  const auto done = Export<ApiVoidProc>(api, "Done");
  const auto getSetting = Export<ApiGetConfigSettingProc>(api, "GetConfigSetting");
  if (init == nullptr || saveConfig == nullptr || done == nullptr || getSetting == nullptr) {
    std::fprintf(stderr, "an export is missing\n");
    return 1;
  }

  std::int32_t first = init(root.c_str());
  std::printf("Init(%s) on a fresh folder = %d (-4: no settings yet, defaults in use)\n", root.c_str(), first);
  saveConfig();
  std::printf("SaveConfig() wrote the built-in settings\n");
  std::int32_t second = init(root.c_str());
  std::printf("Init(%s) again = %d\n", root.c_str(), second);

  char text[256] = {};
  std::int32_t length = getSetting(5, text, sizeof text - 1);
  std::printf("GetConfigSetting(5, mail folder) = %d: %s\n", length, length > 0 ? text : "");
  done();
  std::printf("Done()\n");

  std::printf("files in %s:\n", root.c_str());
  ListFiles(root, "");
  FreeLibrary(api);
  return (first == -4 && second == 0) ? 0 : 1;
}
