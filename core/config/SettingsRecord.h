#pragma once
// The settings record: the whole global configuration as one fixed binary
// record, its built-in image, typed access to its fields and the names the
// core units use for them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/config/SettingFields.h"
#include "core/config/SettingTables.h"
#include "core/util/LittleEndian.h"

namespace core {

// The four stored records that the setting tables describe.
constexpr std::size_t SettingsRecordSize = 20864;
constexpr std::size_t AccountRecordSize = 2848;
constexpr std::size_t DomainRecordSize = 913;
constexpr std::size_t RemoteAccountRecordSize = 1828;

using SettingsRecord = std::array<std::uint8_t, SettingsRecordSize>;

constexpr std::size_t RecordSize(SettingFamily family) {
  switch (family) {
    case SettingFamily::Config:
      return SettingsRecordSize;
    case SettingFamily::Account:
      return AccountRecordSize;
    case SettingFamily::Domain:
      return DomainRecordSize;
    case SettingFamily::RemoteAccount:
      return RemoteAccountRecordSize;
  }
  return 0;
}

// The record before "settings.cfg" is read over it: zero except the initial
// values of the setting tables.
const SettingsRecord& BuiltInSettingsImage();

// ---- Typed access to a field of a record buffer ---------------------------
// The buffer must hold the whole record; integers are little-endian.

inline std::uint8_t GetU8(const std::uint8_t* record, FieldRef f) { return record[f.offset]; }
inline std::uint16_t GetU16(const std::uint8_t* record, FieldRef f) { return LoadLE<std::uint16_t>(record + f.offset); }
inline std::uint32_t GetU32(const std::uint8_t* record, FieldRef f) { return LoadLE<std::uint32_t>(record + f.offset); }
inline void SetU8(std::uint8_t* record, FieldRef f, std::uint8_t value) { record[f.offset] = value; }
inline void SetU16(std::uint8_t* record, FieldRef f, std::uint16_t value) { StoreLE(record + f.offset, value); }
inline void SetU32(std::uint8_t* record, FieldRef f, std::uint32_t value) { StoreLE(record + f.offset, value); }

// A 32-bit value kept as two 16-bit words: the high one at the field's
// offset, the low one at its second offset.
inline std::uint32_t GetSplitU32(const std::uint8_t* record, const FieldDef& f) {
  return (static_cast<std::uint32_t>(LoadLE<std::uint16_t>(record + f.offset)) << 16) |
         LoadLE<std::uint16_t>(record + f.offset2);
}
inline void SetSplitU32(std::uint8_t* record, const FieldDef& f, std::uint32_t value) {
  StoreLE(record + f.offset, static_cast<std::uint16_t>(value >> 16));
  StoreLE(record + f.offset2, static_cast<std::uint16_t>(value & 0xFFFFu));
}

// An integer or boolean field read or written at its own width (1, 2 or 4
// bytes); a write keeps the low bytes that fit.
std::uint32_t GetUnsigned(const std::uint8_t* record, FieldRef f);
void SetUnsigned(std::uint8_t* record, FieldRef f, std::uint32_t value);

// A short-string field: a length byte above the width reads as the width.
std::string_view GetShortStringView(const std::uint8_t* record, FieldRef f);
std::string GetShortString(const std::uint8_t* record, FieldRef f);
// Stores the text cut to the width and zeroes the rest of the field.
void SetShortString(std::uint8_t* record, FieldRef f, std::string_view text);

// ---- Named fields of the settings record ---------------------------------

namespace cfg {

inline constexpr FieldRef HostName = ConfigField("HostName");  // text list; ids 0 and 11
inline constexpr FieldRef List1 = ConfigField("List1");
inline constexpr FieldRef List2 = ConfigField("List2");
inline constexpr FieldRef TempFolder = ConfigField("TempFolder");
inline constexpr FieldRef MailFolder = ConfigField("MailFolder");
inline constexpr FieldRef LogsFolder = ConfigField("LogsFolder");
inline constexpr FieldRef LdapServerList = ConfigField("LdapServerList");  // "path.cfg" line 10 overrides
inline constexpr FieldRef Flag50 = ConfigField("Flag50");                  // cleared at load while Flag61 is set
inline constexpr FieldRef Flag61 = ConfigField("Flag61");
inline constexpr FieldRef FirstProcessorOnly = ConfigField("FirstProcessorOnly");
inline constexpr FieldRef List90 = ConfigField("List90");
inline constexpr FieldRef DbConnection = ConfigField("DbConnection");
inline constexpr FieldRef ConnectDatabase = ConfigField("ConnectDatabase");
inline constexpr FieldRef StorageMode = ConfigField("StorageMode");  // 0, 1 files; 2 database back end
inline constexpr FieldRef List124 = ConfigField("List124");
inline constexpr FieldRef LocalNetworks = ConfigField("LocalNetworks");
inline constexpr FieldRef ArchiveFolder = ConfigField("ArchiveFolder");  // at most 240 characters
inline constexpr FieldRef DomainShield = ConfigField("DomainShield");

inline constexpr FieldRef DbNoLock = ConfigField("DbNoLock");
inline constexpr FieldRef MessagePrefixPart = ConfigField("MessagePrefixPart");
inline constexpr FieldRef RecordCacheSizeMb = ConfigField("RecordCacheSizeMb");
inline constexpr FieldRef DomainCount = ConfigField("DomainCount");
inline constexpr FieldRef MaskAllPasswords = ConfigField("MaskAllPasswords");
inline constexpr FieldRef ShowFlaggedPasswords = ConfigField("ShowFlaggedPasswords");

}  // namespace cfg

// The load's clamps and defaults (the rows' load rules) on a settings record.
void ApplyLoadRules(std::uint8_t* record);

}  // namespace core
