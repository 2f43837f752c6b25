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
#include "core/util/StructureUnit.h"

namespace core {

constexpr std::size_t SettingsRecordSize = 20864;
using SettingsRecord = std::array<std::uint8_t, SettingsRecordSize>;

// AccountRecordSize comes from core/util/StructureUnit.h.
constexpr std::size_t DomainRecordSize = 913;
constexpr std::size_t RemoteAccountRecordSize = 1828;

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

inline std::uint16_t GetU16(const std::uint8_t* record, FieldRef f) {
  return static_cast<std::uint16_t>(record[f.offset] | (record[f.offset + 1] << 8));
}

inline std::uint32_t GetU32(const std::uint8_t* record, FieldRef f) {
  return static_cast<std::uint32_t>(record[f.offset]) | (static_cast<std::uint32_t>(record[f.offset + 1]) << 8) |
         (static_cast<std::uint32_t>(record[f.offset + 2]) << 16) |
         (static_cast<std::uint32_t>(record[f.offset + 3]) << 24);
}

inline void SetU8(std::uint8_t* record, FieldRef f, std::uint8_t value) { record[f.offset] = value; }

inline void SetU16(std::uint8_t* record, FieldRef f, std::uint16_t value) {
  record[f.offset] = static_cast<std::uint8_t>(value);
  record[f.offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

inline void SetU32(std::uint8_t* record, FieldRef f, std::uint32_t value) {
  for (std::uint32_t i = 0; i < 4; ++i)
    record[f.offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
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

inline constexpr FieldRef HostName = ConfigField(0);  // text list; ids 0 and 11
inline constexpr FieldRef Setting1 = ConfigField(1);  // text list at 1304; ids 1 and 40
inline constexpr FieldRef Setting2 = ConfigField(2);  // text list at 1048; ids 2 and 38
inline constexpr FieldRef TempFolder = ConfigField(4);
inline constexpr FieldRef MailFolder = ConfigField(5);
inline constexpr FieldRef LogsFolder = ConfigField(6);
inline constexpr FieldRef Setting12 = ConfigField(12);  // seconds
inline constexpr FieldRef Setting17 = ConfigField(17);
inline constexpr FieldRef Setting18 = ConfigField(18);
inline constexpr FieldRef Setting19 = ConfigField(19);
inline constexpr FieldRef Setting26 = ConfigField(26);
inline constexpr FieldRef Setting28 = ConfigField(28);
inline constexpr FieldRef Setting31 = ConfigField(31);
inline constexpr FieldRef Setting32 = ConfigField(32);
inline constexpr FieldRef Setting39 = ConfigField(39);  // text list at 1176; "path.cfg" line 10
inline constexpr FieldRef Setting50 = ConfigField(50);  // byte at 1444
inline constexpr FieldRef Setting56 = ConfigField(56);
inline constexpr FieldRef Setting57 = ConfigField(57);
inline constexpr FieldRef Setting59 = ConfigField(59);
inline constexpr FieldRef Setting61 = ConfigField(61);  // byte at 1464
inline constexpr FieldRef Setting72 = ConfigField(72);
inline constexpr FieldRef DaemonAddress = ConfigField(73);  // "MAILER-DAEMON"
inline constexpr FieldRef DaemonName = ConfigField(74);     // "Mail Delivery Subsystem"
inline constexpr FieldRef FirstProcessorOnly = ConfigField(76);
inline constexpr FieldRef Setting78 = ConfigField(78);
inline constexpr FieldRef Setting79 = ConfigField(79);
inline constexpr FieldRef Setting80 = ConfigField(80);
inline constexpr FieldRef Setting81 = ConfigField(81);
inline constexpr FieldRef Setting82 = ConfigField(82);
inline constexpr FieldRef Setting83 = ConfigField(83);
inline constexpr FieldRef Setting84 = ConfigField(84);
inline constexpr FieldRef Setting90 = ConfigField(90);  // text list at 1582
inline constexpr FieldRef DbConnection = ConfigField(97);
inline constexpr FieldRef Setting101 = ConfigField(101);  // 0 at load when above 1000
inline constexpr FieldRef Setting102 = ConfigField(102);  // 0 at load when above 1000
inline constexpr FieldRef Setting103 = ConfigField(103);  // 0 at load when above 5,242,880
inline constexpr FieldRef ConnectDatabase = ConfigField(108);
inline constexpr FieldRef StorageMode = ConfigField(117);  // 0, 1 files; 2 database back end
inline constexpr FieldRef Setting124 = ConfigField(124);   // text list at 3641
inline constexpr FieldRef Setting132 = ConfigField(132);   // text list at 4577
inline constexpr FieldRef Setting144 = ConfigField(144);
inline constexpr FieldRef Setting146 = ConfigField(146);
inline constexpr FieldRef Setting147 = ConfigField(147);
inline constexpr FieldRef ArchiveFolder = ConfigField(154);  // at most 240 characters
inline constexpr FieldRef DomainShield = ConfigField(161);

// Fields without an id.
inline constexpr FieldRef DbNoLock = ConfigNoIdField(152);
inline constexpr FieldRef Field160 = ConfigNoIdField(160);
inline constexpr FieldRef Field167 = ConfigNoIdField(167);
inline constexpr FieldRef MessagePrefixPart = ConfigNoIdField(201);
inline constexpr FieldRef Field222 = ConfigNoIdField(222);
inline constexpr FieldRef Field228 = ConfigNoIdField(228);
inline constexpr FieldRef Field230 = ConfigNoIdField(230);
inline constexpr FieldRef RecordCacheSizeMb = ConfigNoIdField(233);
inline constexpr FieldRef DomainCount = ConfigNoIdField(7020);
inline constexpr FieldRef MaskAllPasswords = ConfigNoIdField(20848);
inline constexpr FieldRef ShowFlaggedPasswords = ConfigNoIdField(20849);

// The value a field gets at load when it holds 0 (a text field: when empty).
struct FieldDefault {
  FieldRef field;
  std::uint32_t number = 0;
  std::string_view text = {};
};

inline constexpr FieldDefault LoadDefaults[] = {
    {Setting12, 300},
    {Setting57, 32768},
    {Setting31, 143},
    {Setting32, 32001},
    {Setting28, 993},
    {Setting26, 995},
    {Setting59, 465},
    {Setting19, 366},
    {Setting18, 389},
    {Setting17, 636},
    {Field228, 5222},
    {Field230, 5223},
    {Field167, 5269},
    {Field160, 5229},
    {Setting147, 4},
    {Setting146, 8},
    {Setting56, 1024},
    {Setting80, 256},
    {Setting79, 1},
    {Setting81, 40},
    {Setting82, 40},
    {Setting83, 40},
    {Field222, 40},
    {Setting84, 5},
    {RecordCacheSizeMb, 10},
    {Setting78, 8},
    {Setting144, 20},
    {Setting72, 5},
    {DaemonAddress, 0, "MAILER-DAEMON"},
    {DaemonName, 0, "Mail Delivery Subsystem"},
};

}  // namespace cfg

// Applies LoadDefaults to a settings record.
void ApplyLoadDefaults(std::uint8_t* record);

}  // namespace core
