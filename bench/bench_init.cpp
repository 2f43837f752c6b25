// Times the library's start (Init over an installation with 1,000 domains)
// against reading the same two configuration files raw. The start has to
// unscramble and parse both files; the ratio shows what that costs on top
// of the file reads themselves.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "include/Api.h"
#include "tests/support/records.h"

namespace {

using records::SettingsSize;
constexpr std::size_t DomainRecordSize = records::EntrySize;
constexpr std::uint32_t DomainCount = 1000;

std::size_t ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  HANDLE file =
      CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  const DWORD size = GetFileSize(file, nullptr);
  bytes.resize(size);
  DWORD got = 0;
  if (size != 0 && !ReadFile(file, bytes.data(), size, &got, nullptr)) got = 0;
  CloseHandle(file);
  return got;
}

class Installation {
 public:
  Installation() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    root_ = std::string(temp) + "vmbench-init-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(root_.c_str(), nullptr);
    CreateDirectoryA(config().c_str(), nullptr);
  }
  ~Installation() {
    // The library may leave files of its own behind (logs, saved copies).
    core::DeleteDirectory(root_, "*.*", true);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  bool Write() const {
    const std::string settingsBytes = records::SettingsFile(DomainCount).Scrambled();
    std::string domainBytes;
    for (std::uint32_t d = 0; d < DomainCount; ++d)
      domainBytes +=
          records::DomainEntry("domain" + std::to_string(d) + ".example",
                               records::Dotted(10, static_cast<std::uint8_t>(d >> 8), static_cast<std::uint8_t>(d), 1));
    return core::WriteFileAtomic(settings(), settingsBytes.data(), settingsBytes.size()) &&
           core::WriteFileAtomic(domains(), domainBytes.data(), domainBytes.size());
  }

  const std::string& root() const { return root_; }
  std::string config() const { return root_ + "config\\"; }
  std::string settings() const { return config() + "settings.cfg"; }
  std::string domains() const { return config() + "domains.cfg"; }

 private:
  std::string root_;
};

}  // namespace

int main() {
  constexpr int Repetitions = 41;
  Installation install;
  if (!install.Write()) {
    std::fprintf(stderr, "cannot write the installation under %s\n", install.root().c_str());
    return 1;
  }

  core::CreateLockTable(true);
  core::InitPlatformUnit();
  if (Init(install.root().c_str()) != 0) {
    std::fprintf(stderr, "Init failed on %s\n", install.root().c_str());
    return 1;
  }

  // Rounds alternate the two, so a change in the machine's load touches both alike.
  std::vector<std::uint8_t> settingsBytes, domainBytes;
  const auto [ours, baseline] = bench::AlternatingMedians(
      Repetitions, [&] { return Init(install.root().c_str()) == 0 ? 1 : 0; },
      [&] { return ReadWholeFile(install.settings(), settingsBytes) + ReadWholeFile(install.domains(), domainBytes); });
  if (settingsBytes.size() != SettingsSize || domainBytes.size() != DomainCount * DomainRecordSize) {
    std::fprintf(stderr, "raw read came back short\n");
    return 1;
  }

  bench::Report("init_1000_domains", ours, baseline);
  Done();
  return 0;
}
