#pragma once
// The account and remote-account records as the store reads them: the fields
// it uses, named through the setting tables.
#include <array>
#include <cstdint>
#include <string>

#include "core/config/SettingTables.h"
#include "core/config/SettingsRecord.h"

namespace core {

using AccountRecordBytes = std::array<std::uint8_t, AccountRecordSize>;
using RemoteAccountRecordBytes = std::array<std::uint8_t, RemoteAccountRecordSize>;

namespace account {

inline constexpr FieldRef Kind = RefOf(AccountField("AccountKind"));  // 0: ordinary mailbox account
inline constexpr FieldRef AliasList = RefOf(AccountField("AliasList"));
inline constexpr FieldRef MailboxName = RefOf(AccountField("MailboxName"));
inline constexpr FieldRef Password = RefOf(AccountField("Password"));
inline constexpr FieldRef MailboxPath = RefOf(AccountField("MailboxPath"));
inline constexpr FieldRef ResponderMode = RefOf(AccountField("ResponderMode"));  // bits 0-1 of its byte
inline constexpr FieldRef SkipWelcomeMessages = RefOf(AccountField("SkipWelcomeMessages"));
// The data file that kinds 3, 4 and 5 keep beside the account.
inline constexpr FieldRef Kind3DataFile = RefOf(AccountField("Kind3CompanionFile"));
inline constexpr FieldRef Kind4DataFile = RefOf(AccountField("Kind4CompanionFile"));
inline constexpr FieldRef Kind5DataFile = RefOf(AccountField("DataFileAt516"));

}  // namespace account

// The remote account's state file (relative to the configuration folder
// unless absolute).
inline constexpr FieldRef RemoteStateFile = [] {
  for (const FieldDef& f : RemoteAccountFields) {
    if (f.name == "StateFile") return RefOf(f);
  }
  throw "no state file field";
}();

// The text of a short-string field, its length byte clamped to the field.
std::string FieldText(const std::uint8_t* record, FieldRef field);

// The name of the data file an account of kind 3, 4 or 5 keeps; empty for
// the other kinds.
std::string AccountDataFile(const std::uint8_t* record);

// The account's number-send limit, kept as two little-endian 16-bit words of
// the account record: high half at byte 1018, low half at byte 1024.
std::uint32_t GetAccountNumberSendLimit(const std::uint8_t* accountRecord);
void SetAccountNumberSendLimit(std::uint8_t* accountRecord, std::uint32_t value);

}  // namespace core
