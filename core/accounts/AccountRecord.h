#pragma once
// Accessors of account-record fields that no single setting field covers.
#include <cstdint>

#include "core/config/SettingsRecord.h"

namespace core {

// The account's 32-bit number-send limit, kept as two little-endian 16-bit
// words of the account record: high half at byte 1018, low half at byte 1024.
// Get (set false) returns the limit; set stores value and returns 0.
std::uint32_t AccountNumberSendLimit(std::uint8_t* accountRecord, std::uint32_t value, bool set);

}  // namespace core
