#pragma once
// Installations for the library's exports, written without the library's
// code from the records of tests/support/records.h.
#include <windows.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "core/platform/Files.h"
#include "tests/support/records.h"

namespace fixture {

using namespace records;

inline void WriteSettings(const std::string& configFolder, const Record& settings) {
  CreateDirectoryA(configFolder.c_str(), nullptr);
  std::ofstream(configFolder + "settings.cfg", std::ios::binary | std::ios::trunc) << settings.Scrambled();
}

inline bool ReadSettings(const std::string& configFolder, Record& settings) {
  std::string bytes;
  if (!core::ReadFileToString(configFolder + "settings.cfg", false, bytes) || bytes.size() != SettingsSize)
    return false;
  settings.bytes = records::Scrambled(bytes);
  return true;
}

// Sets a file's last-write time to noon of a day long past, so that a stamp
// taken from it differs from any file written now (no waiting for the
// two-second grain of the stamp).
inline bool BackdateFile(const std::string& path, WORD year = 2001) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  SYSTEMTIME when{};
  when.wYear = year;
  when.wMonth = 1;
  when.wDay = 1;
  when.wHour = 12;
  FILETIME stamp{};
  const bool ok = SystemTimeToFileTime(&when, &stamp) && SetFileTime(file, nullptr, nullptr, &stamp);
  CloseHandle(file);
  return ok;
}

inline bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A fresh, empty installation folder under the temporary folder; removed with
// everything in it when the object goes away.
class TempInstall {
 public:
  explicit TempInstall(const std::string& tag) {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root_ = std::string(temp) + "vmapi-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(counter()++) + "\\";
    CreateDirectoryA(root_.c_str(), nullptr);
  }
  ~TempInstall() { core::DeleteDirectory(root_, "*.*", true); }
  TempInstall(const TempInstall&) = delete;
  TempInstall& operator=(const TempInstall&) = delete;
  const std::string& root() const { return root_; }
  std::string config() const { return root_ + "config\\"; }

 private:
  static int& counter() {
    static int value = 0;
    return value;
  }
  std::string root_;
};

// Sets or (empty) removes the registry's installation folder value for one
// test, and removes it again afterwards.
class InstallDirValue {
 public:
  explicit InstallDirValue(const std::string& value) { Set(value); }
  ~InstallDirValue() { Set(""); }
  InstallDirValue(const InstallDirValue&) = delete;
  InstallDirValue& operator=(const InstallDirValue&) = delete;

 private:
  static void Set(const std::string& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Parlinex MailServer", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
      return;
    if (value.empty())
      RegDeleteValueA(key, "InstallDir");
    else
      RegSetValueExA(key, "InstallDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
  }
};

}  // namespace fixture
