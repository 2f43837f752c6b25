#include "core/accounts/AccountRecord.h"

namespace core {
namespace {

constexpr const FieldDef& NumberSendLimit = AccountField("NumberSendLimit");
static_assert(NumberSendLimit.kind == FieldKind::SplitInt && NumberSendLimit.offset == 1018 &&
              NumberSendLimit.offset2 == 1024);
static_assert(account::AliasList.offset == 260 && account::Kind3DataFile.offset == 1304 &&
              account::Kind4DataFile.offset == 773 && account::Kind5DataFile.offset == 516 &&
              RemoteStateFile.offset == 1312);

}  // namespace

std::string FieldText(const std::uint8_t* record, FieldRef field) { return GetShortString(record, field); }

std::string AccountDataFile(const std::uint8_t* record) {
  switch (GetU8(record, account::Kind)) {
    case 3:
      return FieldText(record, account::Kind3DataFile);
    case 4:
      return FieldText(record, account::Kind4DataFile);
    case 5:
      return FieldText(record, account::Kind5DataFile);
    default:
      return {};
  }
}

std::uint32_t GetAccountNumberSendLimit(const std::uint8_t* accountRecord) {
  return accountRecord != nullptr ? GetSplitU32(accountRecord, NumberSendLimit) : 0;
}

void SetAccountNumberSendLimit(std::uint8_t* accountRecord, std::uint32_t value) {
  if (accountRecord != nullptr) SetSplitU32(accountRecord, NumberSendLimit, value);
}

}  // namespace core
