#pragma once
// Folders and account files the Windows benchmarks build their data in.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/accounts/RecordFile.h"
#include "core/config/SettingsRecord.h"
#include "core/platform/Files.h"
#include "tests/support/records.h"

namespace bench {

// A fresh folder under the temporary folder, named after the benchmark and
// the process ("...\vmbench-<tag>-<pid>\").
inline std::string TempBenchFolder(const char* tag) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "vmbench-" + tag + "-" + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  return folder;
}

// Writes count scrambled account records to path in one go; fill(i, record)
// sets the fields of record i on zeroed bytes.
template <class Fill>
void WriteAccountFile(const std::string& path, std::uint32_t count, Fill&& fill) {
  constexpr std::size_t size = core::AccountRecordSize;
  std::vector<std::uint8_t> all(static_cast<std::size_t>(count) * size, 0);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint8_t* record = all.data() + static_cast<std::size_t>(i) * size;
    fill(i, record);
    core::ScrambleRecord(record, size);
  }
  core::WriteFileAtomic(path, all.data(), all.size());
}

// A short string field as the records hold it: length byte, then the text.
inline void PutText(std::uint8_t* record, std::size_t offset, const std::string& text) {
  record[offset] = static_cast<std::uint8_t>(text.size());
  std::copy(text.begin(), text.end(), record + offset + 1);
}

// One large-block read of a record file with the unscrambling XOR of every
// byte, summed: the least any search of the file costs. Records are a
// multiple of 16 bytes, so the key repeats every 16 bytes of the file: XOR
// two 64-bit words at a time.
inline std::uint64_t ReadAndUnscrambleSum(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  std::uint64_t key[2];
  std::memcpy(key, records::Key, 16);
  std::vector<std::uint64_t> block((4 << 20) / 8);
  std::uint64_t sum = 0;
  DWORD got = 0;
  while (ReadFile(file, block.data(), static_cast<DWORD>(block.size() * 8), &got, nullptr) && got > 0) {
    for (std::size_t i = 0; i + 1 < got / 8; i += 2)
      sum += (block[i] ^ key[0]) + (block[i + 1] ^ key[1]);
  }
  CloseHandle(file);
  return sum;
}

// A text value under a key of HKEY_LOCAL_MACHINE while the object lives;
// the value (not the key) is removed at scope end.
class MachineText {
 public:
  MachineText(const char* key, const char* name, const std::string& value) : key_(key), name_(name) {
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS)
      return;
    RegSetValueExA(handle, name_, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
  }
  ~MachineText() {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_, 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS) return;
    RegDeleteValueA(handle, name_);
    RegCloseKey(handle);
  }
  MachineText(const MachineText&) = delete;
  MachineText& operator=(const MachineText&) = delete;

 private:
  const char* key_;
  const char* name_;
};

}  // namespace bench
