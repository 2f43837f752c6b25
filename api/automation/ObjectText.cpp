#include "api/automation/ObjectText.h"

#include <algorithm>

#include "core/util/Text.h"

namespace api::automation {

AccountAddress SplitAccountAddress(std::string_view address, std::string_view defaultDomain) {
  AccountAddress split{core::GetDelimitedWord(address, 0, '@'), core::GetDelimitedWord(address, 1, '@', false, true)};
  if (split.domain.empty()) split.domain = std::string(defaultDomain);
  return split;
}

std::string ListAnswerText(std::string_view written) {
  std::string text(written);
  if (text.empty()) return text;
  std::replace(text.begin(), text.end() - 1, '\0', ';');
  return text;
}

std::size_t DomainListBufferSize(std::int32_t domainCount) {
  return static_cast<std::size_t>(std::max<std::int32_t>(domainCount, 0)) * 96 + 2;
}

std::size_t AccountListBufferSize(std::int32_t accountCount) {
  return static_cast<std::size_t>(std::max<std::int32_t>(accountCount, 0)) * 256 + 1;
}

}  // namespace api::automation
