#include "core/lists/Defaults.h"

#include <cstring>
#include <string_view>

#include "core/config/SettingTransfer.h"
#include "core/config/SettingsRecord.h"
#include "core/util/LittleEndian.h"
#include "core/util/NameText.h"
#include "core/util/Numbers.h"
#include "core/util/Text.h"

namespace core {
namespace {

enum class Store : std::uint8_t {
  Number,          // the number, in the field's width
  Flag,            // 1 when the value is 1, else 0
  Text,            // the text, cut to the field
  SpamFilter,      // 2 when the value is 1
  MailboxType,     // 0 -> 0, 1 -> 2, 2 -> 1, others leave it
  UserType,        // 1, 2, 3 set the flag of that user type
  WholeResponder,  // the whole byte of ids 42 and 66
  ServiceBit,      // a bit of id 43: set when the value is 1 (bit 0) or is not 1 (bits 1-7)
  Expiry,          // the high half of the value at 660, the low half 0
};

struct DefaultKey {
  std::string_view key;  // with its "="
  std::int32_t id;       // the setting id of the record family
  Store store;
  int bit = 0;
};

constexpr DefaultKey AccountKeys[] = {
    {"AntiSpamIndex=", 1, Store::Number},
    {"SpamFilter=", 1, Store::SpamFilter},
    {"IMAP4=", 25, Store::Number},
    {"MailboxType=", 25, Store::MailboxType},
    {"AllowSelfConfiguration=", 21, Store::Flag},
    {"UserType=", 21, Store::UserType},
    {"RespondWith=", 42, Store::WholeResponder},
    {"Responder=", 42, Store::WholeResponder},
    {"RespondWithFile=", 46, Store::Text},
    {"ValidityWarningFile=", 49, Store::Text},
    {"LimitMailboxSize=", 39, Store::Flag},
    {"LimitMailboxSizeValue=", 40, Store::Number},
    {"MegabyteSendLimit=", 57, Store::Number},
    {"NumberSendLimit=", 58, Store::Number},
    {"MaxMessageSize=", 27, Store::Number},
    {"LocalMailOnly=", 43, Store::ServiceBit, 0},
    {"ServicesAccessSMTP=", 43, Store::ServiceBit, 1},
    {"ServicesAccessPOP3IMAP=", 43, Store::ServiceBit, 2},
    {"ServicesAccessIM=", 43, Store::ServiceBit, 3},
    {"ServicesAccessWebMail=", 43, Store::ServiceBit, 4},
    {"ServicesAccessInstantAntiSpam=", 43, Store::ServiceBit, 5},
    {"ServicesAccessCalendar=", 43, Store::ServiceBit, 6},
    {"ServicesAccessChallengeResponse=", 43, Store::ServiceBit, 7},
    {"ServicesAccessAV=", 4, Store::Flag},
    {"DeleteMailOlder=", 50, Store::Flag},
    {"DeleteMailOlderValue=", 51, Store::Number},
    {"IncomingCopy=", 47, Store::Text},
    {"OutgoingCopy=", 48, Store::Text},
    {"ExpiresIfInactive=", 65, Store::Expiry},
    {"DeleteAccountWhenExpired=", 31, Store::Flag},
    {"XEnvelopeTo=", 60, Store::Flag},
    {"NoMailingList=", 59, Store::Flag},
    {"AuthMode=", 24, Store::Number},
    {"AuthModeValue=", 34, Store::Text},
    {"SpamFolderMode=", 64, Store::Number},
};

// "AddministratorEmail=" is the key the files have always used.
constexpr DefaultKey DomainKeys[] = {
    {"AdministratorAlias=", 4, Store::Text},
    {"AddministratorEmail=", 5, Store::Text},
    {"InfoToAdmin=", 8, Store::Flag},
    {"ForwardUnknown=", 6, Store::Number},
    {"ForwardUnknownTo=", 7, Store::Text},
    {"DomainAdminLimit=", 9, Store::Number},
    {"DomainDiskQuota=", 11, Store::Number},
    {"DomainMailboxSize=", 12, Store::Number},
    {"DomainMBLimit=", 13, Store::Number},
    {"DomainNumberLimit=", 14, Store::Number},
    {"DomainMaxMessageSize=", 15, Store::Number},
    {"DomainMIAS=", 17, Store::Flag},
    {"DomainAV=", 10, Store::Flag},
    {"DomainChallengeResponse=", 20, Store::Flag},
};

// Stores through the setting tables, as a caller's Set...Setting would.
void SetNumber(SettingFamily family, std::uint8_t* record, std::int32_t id, std::uint32_t value) {
  std::uint8_t bytes[4];
  StoreLE(bytes, value);
  SetSetting(family, id, record, bytes, 4);
}

std::uint32_t GetNumber(SettingFamily family, const std::uint8_t* record, std::int32_t id) {
  std::uint8_t bytes[4] = {};
  GetSetting(family, id, record, bytes, 4, SettingContext{});
  return LoadLE<std::uint32_t>(bytes);
}

void Apply(SettingFamily family, std::uint8_t* record, const DefaultKey& key, const std::string& value) {
  const auto number = static_cast<std::uint32_t>(TextToInt(value));
  switch (key.store) {
    case Store::Number:
      SetNumber(family, record, key.id, number);
      break;
    case Store::Flag:
      SetNumber(family, record, key.id, number == 1 ? 1 : 0);
      break;
    case Store::Text:
      SetSetting(family, key.id, record, value.data(), static_cast<std::int32_t>(value.size()));
      break;
    case Store::SpamFilter:
      if (number == 1) SetNumber(family, record, key.id, 2);
      break;
    case Store::MailboxType:
      if (number <= 2) SetNumber(family, record, key.id, number == 0 ? 0 : 3 - number);
      break;
    case Store::UserType: {
      // 1: self-configuration (id 21); 2 and 3: the flags of ids 36 and 38.
      constexpr std::int32_t flags[] = {21, 36, 38};
      if (number >= 1 && number <= 3) SetNumber(family, record, flags[number - 1], 1);
      break;
    }
    case Store::WholeResponder:
      SetNumber(family, record, 42, number & 0x03u);
      SetNumber(family, record, 66, (number & 0xFFu) >> 2);
      break;
    case Store::ServiceBit: {
      const std::uint32_t bit = 1u << key.bit;
      const bool set = key.bit == 0 ? number == 1 : number != 1;
      const std::uint32_t old = GetNumber(family, record, key.id);
      SetNumber(family, record, key.id, set ? (old | bit) : (old & ~bit));
      break;
    }
    case Store::Expiry:
      SetNumber(family, record, 65, number);
      SetNumber(family, record, 23, 0);
      break;
  }
}

// The value after the first "=" of a line whose key matches, trimmed.
bool KeyValue(const std::string& line, std::string_view key, std::string& value) {
  if (line.size() < key.size() || UpperCase(line.substr(0, key.size())) != UpperCase(key)) return false;
  value = Trim(std::string_view(line).substr(key.size()));
  return true;
}

// The lines as the keys are matched: comments stripped, blanks around the
// first "=" removed.
std::vector<std::string> KeyLines(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  for (const std::string& raw : lines) {
    std::string line = Trim(StripComments(raw));
    if (line.find('=') == std::string::npos) continue;
    out.push_back(TrimAroundSeparator(line, '='));
  }
  return out;
}

}  // namespace

void ApplyDefaultLines(bool isAccount, std::uint8_t* record, const std::vector<std::string>& lines) {
  const SettingFamily family = isAccount ? SettingFamily::Account : SettingFamily::Domain;
  std::memset(record, 0, RecordSize(family));
  std::string value;
  for (const std::string& line : KeyLines(lines)) {
    if (isAccount) {
      for (const DefaultKey& key : AccountKeys) {
        if (KeyValue(line, key.key, value)) Apply(family, record, key, value);
      }
    } else {
      for (const DefaultKey& key : DomainKeys) {
        if (KeyValue(line, key.key, value)) Apply(family, record, key, value);
      }
    }
  }
}

std::string DomainAdminRightsOf(const std::vector<std::string>& lines) {
  std::string rights, value;
  for (const std::string& line : KeyLines(lines)) {
    if (KeyValue(line, "DomainAdminRights=", value)) rights = CutTo(value, 255);
  }
  return rights;
}

}  // namespace core
