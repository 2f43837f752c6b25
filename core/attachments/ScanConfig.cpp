#include "core/attachments/ScanConfig.h"

#include "core/config/ConfigStore.h"
#include "core/platform/Files.h"

namespace core {
namespace {

constexpr FieldRef ScannerMode = ConfigField("ScannerMode");  // id 14: 0 unset, 1, 2
constexpr FieldRef ScannerFlag = ConfigField("ScannerFlag");  // id 15
constexpr std::size_t ModeByte = 509, FlagByte = 508;

}  // namespace

void LoadScanConfig(SettingsRecord& record, const std::string& configFolder) {
  if (GetU8(record.data(), ScannerMode) != 0) return;
  std::string bytes;
  if (ReadFileBytes(configFolder + "scan.cfg", 0, ScanRecordSize, bytes) == FileReadResult::Read &&
      bytes.size() == ScanRecordSize) {
    SetU8(record.data(), ScannerMode, bytes[ModeByte] != 0 ? 2 : 1);
    SetU8(record.data(), ScannerFlag, static_cast<std::uint8_t>(bytes[FlagByte]));
  }
  if (GetU8(record.data(), ScannerMode) == 0) SetU8(record.data(), ScannerMode, 1);
}

void LoadScanConfig() { LoadScanConfig(Settings(), ConfigFolder()); }

}  // namespace core
