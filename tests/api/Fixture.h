#pragma once
// Test installations written without the library's code: the scramble key and
// the field offsets are spelled out here, so the library is checked against
// bytes it did not produce.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/platform/Files.h"

namespace fixture {

inline const std::uint8_t Key[16] = {0x3C, 0x91, 0xE0, 0x7A, 0x55, 0xD2, 0x18, 0x8B,
                                     0xF4, 0x6A, 0x0D, 0x27, 0xC3, 0xB9, 0xE1, 0x50};

constexpr std::size_t SettingsSize = 20864;

struct Settings {
  std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(SettingsSize, 0);
  Settings() {
    bytes[1542] = 0;  // keep the test process on all processors
    bytes[7001] = 1;  // the domain table in its current layout
  }
  void U8(std::size_t offset, std::uint8_t v) { bytes[offset] = v; }
  void U16(std::size_t offset, std::uint16_t v) { std::memcpy(&bytes[offset], &v, 2); }
  void U32(std::size_t offset, std::uint32_t v) { std::memcpy(&bytes[offset], &v, 4); }
  void Text(std::size_t offset, const std::string& text) {
    bytes[offset] = static_cast<std::uint8_t>(text.size());
    std::memcpy(&bytes[offset + 1], text.data(), text.size());
  }
  std::uint16_t ReadU16(std::size_t offset) const {
    std::uint16_t v;
    std::memcpy(&v, &bytes[offset], 2);
    return v;
  }
};

inline std::vector<std::uint8_t> Scramble(std::vector<std::uint8_t> bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] ^= Key[i % 16];
  return bytes;
}

inline void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool ReadBytes(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes.clear();
  unsigned char chunk[4096];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(file);
  return true;
}

inline void WriteSettings(const std::string& configFolder, const Settings& settings) {
  CreateDirectoryA(configFolder.c_str(), nullptr);
  WriteBytes(configFolder + "settings.cfg", Scramble(settings.bytes));
}

inline bool ReadSettings(const std::string& configFolder, Settings& settings) {
  std::vector<std::uint8_t> bytes;
  if (!ReadBytes(configFolder + "settings.cfg", bytes) || bytes.size() != SettingsSize) return false;
  settings.bytes = Scramble(bytes);
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
