#pragma once
// Reading and writing one field of a record by setting id, the value moving
// as raw bytes through a caller-owned buffer: texts without terminator,
// booleans as one byte, integers as 1 to 4 little-endian bytes, dates as an
// 8-byte day count, blocks as they are.
#include <cstdint>
#include <string_view>

#include "core/config/SettingFields.h"
#include "core/util/Status.h"

namespace core {

// What the read-only and masked settings need besides the record.
struct SettingContext {
  std::string_view configFolder;           // configuration id 170
  const std::uint8_t* settings = nullptr;  // whole settings record (account id 33); null: flags clear
};

// Copies the field named by id from record (which holds the family's whole
// record, RecordSize(family) bytes) into buffer. Answers the number of bytes
// written (never more than bufLen), NotFound for an id that does not exist,
// BadArgument for a buffer too small. A negative bufLen counts as 0; nothing
// is written on failure.
Outcome GetSetting(SettingFamily family, std::int32_t id, const std::uint8_t* record, void* buffer, std::int32_t bufLen,
                   const SettingContext& ctx);

// Stores the value of bufLen bytes into the field named by id. Answers 0,
// NotFound for an id that does not exist or cannot be set, BadArgument for a
// null buffer with a positive length or a date shorter than 8 bytes (the
// record is then unchanged). Bytes of the record outside the field are never
// touched.
Outcome SetSetting(SettingFamily family, std::int32_t id, std::uint8_t* record, const void* buffer,
                   std::int32_t bufLen);

}  // namespace core
