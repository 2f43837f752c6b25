// A throw-away installation for the core's tests under Wine: a temporary
// root with its "config\" folder, a settings record and domain table written
// byte by byte (scrambled here, independently of the library), and the
// configuration load as Init runs it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <fstream>
#include <initializer_list>
#include <string>

#include "core/config/ConfigStore.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"

namespace testinst {

inline const std::uint8_t Key[16] = {0x3C, 0x91, 0xE0, 0x7A, 0x55, 0xD2, 0x18, 0x8B,
                                     0xF4, 0x6A, 0x0D, 0x27, 0xC3, 0xB9, 0xE1, 0x50};

inline void WriteAll(const std::string& name, const std::string& data) {
  std::ofstream(name, std::ios::binary | std::ios::trunc) << data;
}
inline std::string ReadAll(const std::string& name) {
  std::string data;
  core::ReadFileToString(name, false, data);
  return data;
}
// A path of the build tree as the Windows program sees it (drive Z:).
inline std::string HostPath(const char* path) {
  std::string text = std::string("Z:") + path;
  for (char& c : text)
    c = c == '/' ? '\\' : c;
  return text;
}

inline void PutText(std::uint8_t* record, std::size_t offset, const std::string& text) {
  record[offset] = static_cast<std::uint8_t>(text.size());
  std::copy(text.begin(), text.end(), record + offset + 1);
}
inline std::string TextAt(const std::uint8_t* record, std::size_t offset) {
  return std::string(reinterpret_cast<const char*>(record + offset + 1), record[offset]);
}

// A settings record of a current installation (domain table in its 96-byte
// layout, all processors), with the given number of domains.
struct SettingsFile {
  std::string bytes = std::string(20864, '\0');
  explicit SettingsFile(std::uint32_t domains = 0) {
    bytes[7001] = 1;
    U32(7020, domains);
  }
  SettingsFile& U8(std::size_t offset, std::uint8_t value) {
    bytes[offset] = static_cast<char>(value);
    return *this;
  }
  SettingsFile& U32(std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
      bytes[offset + i] = static_cast<char>(value >> (8 * i));
    return *this;
  }
  SettingsFile& Text(std::size_t offset, const std::string& text) {
    PutText(reinterpret_cast<std::uint8_t*>(bytes.data()), offset, text);
    return *this;
  }
  std::string Scrambled() const {
    std::string out = bytes;
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = static_cast<char>(out[i] ^ Key[i % 16]);
    return out;
  }
};

// The 96-byte entries of "domains.cfg" for these names (address 0.0.0.0).
inline std::string DomainEntries(std::initializer_list<std::string> names) {
  std::string all;
  for (const std::string& name : names) {
    std::string entry(96, '\0');
    entry[0] = static_cast<char>(name.size());
    entry.replace(1, name.size(), name);
    all += entry;
  }
  return all;
}

// What the library's start makes once per process before any call: the lock
// table, the platform unit and the hooks between the core's units.
inline void StartLibraryProcess() {
  core::CreateLockTable(true);
  core::InitPlatformUnit();
  core::InstallUnitHooks();
}

class Installation {
 public:
  explicit Installation(const std::string& tag) {
    static int serial = 0;
    char temp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, temp);
    root =
        std::string(temp) + tag + "-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++serial) + "\\";
    config = root + "config\\";
    ::CreateDirectoryA(root.c_str(), nullptr);
    ::CreateDirectoryA(config.c_str(), nullptr);
  }
  ~Installation() { core::DeleteDirectory(root, "*.*", true); }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  // Writes the settings and the domains and loads them as Init does.
  bool Install(const SettingsFile& settings, std::initializer_list<std::string> domains) const {
    WriteAll(config + "settings.cfg", settings.Scrambled());
    WriteAll(config + "domains.cfg", DomainEntries(domains));
    return Load();
  }
  bool Load() const {
    core::SetRootFolder(root);
    core::SetConfigFolder(config);
    core::ReadPathConfig(root);
    return core::InitServerConfig(true, false);
  }

  std::string root, config;
};

}  // namespace testinst
