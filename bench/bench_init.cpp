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

namespace {

constexpr std::size_t SettingsSize = 20864;
constexpr std::size_t DomainRecordSize = 96;
constexpr std::uint32_t DomainCount = 1000;
// Written out here rather than taken from the library, so the files are
// built independently of the code under measurement.
constexpr std::uint8_t Key[16] = {0x3C, 0x91, 0xE0, 0x7A, 0x55, 0xD2, 0x18, 0x8B,
                                  0xF4, 0x6A, 0x0D, 0x27, 0xC3, 0xB9, 0xE1, 0x50};

bool WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

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
    std::vector<std::uint8_t> settingsBytes(SettingsSize, 0);
    settingsBytes[1542] = 0;  // stay on all processors
    settingsBytes[7001] = 1;
    std::memcpy(&settingsBytes[7020], &DomainCount, sizeof DomainCount);
    for (std::size_t i = 0; i < settingsBytes.size(); ++i)
      settingsBytes[i] ^= Key[i % 16];

    std::vector<std::uint8_t> domainBytes(DomainCount * DomainRecordSize, 0);
    for (std::uint32_t d = 0; d < DomainCount; ++d) {
      const std::string name = "domain" + std::to_string(d) + ".example";
      std::uint8_t* entry = &domainBytes[d * DomainRecordSize];
      entry[0] = static_cast<std::uint8_t>(name.size());
      std::memcpy(entry + 1, name.data(), name.size());
      entry[92] = 10;
      entry[93] = static_cast<std::uint8_t>(d >> 8);
      entry[94] = static_cast<std::uint8_t>(d);
      entry[95] = 1;
    }
    return WriteFileBytes(settings(), settingsBytes) && WriteFileBytes(domains(), domainBytes);
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
  constexpr int Repetitions = 21;
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

  const long long ours =
      bench::MedianNanoseconds(Repetitions, [&] { return Init(install.root().c_str()) == 0 ? 1 : 0; });

  std::vector<std::uint8_t> settingsBytes, domainBytes;
  const long long baseline = bench::MedianNanoseconds(Repetitions, [&] {
    return ReadWholeFile(install.settings(), settingsBytes) + ReadWholeFile(install.domains(), domainBytes);
  });
  if (settingsBytes.size() != SettingsSize || domainBytes.size() != DomainCount * DomainRecordSize) {
    std::fprintf(stderr, "raw read came back short\n");
    return 1;
  }

  bench::Report("init_1000_domains", ours, baseline);
  Done();
  return 0;
}
