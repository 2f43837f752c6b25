#include "core/accounts/AccountRecord.h"

#include "core/config/SettingTables.h"

namespace core {
namespace {

constexpr const FieldDef& NumberSendLimit = AccountField("NumberSendLimit");
static_assert(NumberSendLimit.kind == FieldKind::SplitInt && NumberSendLimit.offset == 1018 &&
              NumberSendLimit.offset2 == 1024);

}  // namespace

std::uint32_t AccountNumberSendLimit(std::uint8_t* accountRecord, std::uint32_t value, bool set) {
  if (accountRecord == nullptr) return 0;
  if (!set) return GetSplitU32(accountRecord, NumberSendLimit);
  SetSplitU32(accountRecord, NumberSendLimit, value);
  return 0;
}

}  // namespace core
