#include "sender/config/AddressRules.h"

#include "core/mime/HeaderText.h"
#include "core/util/Text.h"

namespace sender {

LookupAddress SplitLookupAddress(std::string_view address, const FirstDomain& firstDomain) {
  LookupAddress result;
  const std::string bare = core::ExtractEmailAddress(address, true);
  const std::size_t at = bare.find('@');
  result.alias = bare.substr(0, at);
  if (at != std::string::npos) result.domain = bare.substr(at + 1);
  // A quoted local part: "john:smith"@example.com names john.
  if (result.alias.find('"') != std::string::npos) {
    std::erase(result.alias, '"');
    const std::size_t colon = result.alias.find(':');
    if (colon != std::string::npos) result.alias.resize(colon);
  }
  result.refusal = RefuseLookup(result.alias, {});
  if (result.refusal != AddressRefusal::None && result.refusal != AddressRefusal::TooLong) return result;
  if (at == std::string::npos && firstDomain) result.domain = firstDomain();
  result.refusal = RefuseLookup(result.alias, result.domain);
  return result;
}

AddressRefusal RefuseLookup(std::string_view alias, std::string_view domain) {
  const std::string_view trimmed = core::TrimView(alias);
  if (trimmed.empty()) return AddressRefusal::EmptyAlias;
  if (alias.find(';') != std::string_view::npos) return AddressRefusal::ListSeparator;
  if (trimmed.front() == '[' || trimmed.front() == '{') return AddressRefusal::GroupOrFile;
  if (alias.size() + 1 + domain.size() > MaxLookupAddress) return AddressRefusal::TooLong;
  return AddressRefusal::None;
}

}  // namespace sender
