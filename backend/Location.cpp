#include "backend/Location.h"

#include <windows.h>

#include <fstream>

#include "backend/RecordText.h"

namespace backend {

namespace {

std::string ReadSmallFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::string text(65536, '\0');  // path.cfg is a handful of lines; more is not one
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  return text;
}

}  // namespace

std::string InstallFolder() {
  HMODULE self = nullptr;
  char path[MAX_PATH + 1] = {};
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&InstallFolder), &self)) {
    return std::string();
  }
  const DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string folder(path, length);
  folder.erase(folder.find_last_of('\\') + 1);
  return folder;
}

std::string DriverPath(const std::string& windowsPath) {
  using UnixName = char*(CDECL*)(const WCHAR*);
  const HMODULE kernel = GetModuleHandleA("kernel32.dll");
  const auto toUnix =
      kernel == nullptr
          ? nullptr
          : reinterpret_cast<UnixName>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
  if (toUnix == nullptr) return windowsPath;
  const int wide = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
  if (wide <= 0) return windowsPath;
  std::wstring name(static_cast<std::size_t>(wide), L'\0');
  MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, name.data(), wide);
  char* unixName = toUnix(name.c_str());
  if (unixName == nullptr) return windowsPath;
  std::string result(unixName);
  HeapFree(GetProcessHeap(), 0, unixName);
  return result;
}

std::vector<std::string> DefaultConnectionTexts() {
  const std::string install = InstallFolder();
  if (install.empty()) return {};
  const std::string config = ConfigFolderOf(install, SplitLines(ReadSmallFile(install + "path.cfg")));
  const std::string database = DriverPath(config + "mail.db");
  return {"Driver={SQLite3};Database=" + database, "Driver={SQLite3 ODBC Driver};Database=" + database};
}

}  // namespace backend
