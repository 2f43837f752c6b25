// A throw-away installation for the core's tests under Wine: a temporary
// root with its "config\" folder, a settings record and domain table written
// byte by byte (scrambled here, independently of the library), and the
// configuration load as Init runs it; the records come from records.h.
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
#include "tests/support/records.h"

namespace testinst {

using namespace records;

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
  bool Install(const Record& settings, std::initializer_list<std::string> domains) const {
    WriteAll(config + "settings.cfg", settings.Scrambled());
    WriteAll(config + "domains.cfg", DomainEntries(domains));
    return Load();
  }
  bool Load(bool missingIsFailure = true) const {
    core::SetRootFolder(root);
    core::SetConfigFolder(config);
    core::ReadPathConfig(root);
    return core::InitServerConfig(missingIsFailure, false);
  }

  std::string root, config;
};

}  // namespace testinst
