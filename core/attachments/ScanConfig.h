#pragma once
// The scanner settings file "scan.cfg" of the configuration folder: one
// 512-byte record, read only while the scanner mode (setting id 14) is
// unset, never written here.
#include <string>

#include "core/config/SettingsRecord.h"

namespace core {

inline constexpr std::size_t ScanRecordSize = 512;

// While the record's scanner mode (id 14) is 0: mode := 2 when byte 509 of
// "scan.cfg" in configFolder is not 0, else 1, and the scanner flag (id 15)
// := byte 508; a missing, short or unreadable file leaves both and then sets
// the mode to 1. A mode already set is kept and the file not read.
void LoadScanConfig(SettingsRecord& record, const std::string& configFolder);

// The same on the process's settings record and configuration folder: the
// configuration load's scanner step.
void LoadScanConfig();

}  // namespace core
