#pragma once
// Folders and account files the Windows benchmarks build their data in.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/accounts/RecordFile.h"
#include "core/config/SettingsRecord.h"
#include "core/platform/Files.h"

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

}  // namespace bench
