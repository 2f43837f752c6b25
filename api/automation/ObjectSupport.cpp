#include "api/automation/ObjectSupport.h"

#include <cstdint>
#include <new>
#include <vector>

#include "api/automation/ObjectText.h"
#include "core/platform/ComBoundary.h"
#include "core/platform/TextConversion.h"
#include "include/Api.h"

namespace api::automation {
namespace {

// The longest domain name the table holds is 91 characters.
constexpr std::int32_t DomainNameBuffer = 256;

// Calls a list export with a buffer for count entries; once more with a
// fresh count when the list grew in between.
template <typename Count, typename List>
std::string ListAnswer(Count count, std::size_t (*size)(std::int32_t), List list, std::int32_t& lastErr) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::vector<char> buffer(size(count()), '\0');
    lastErr = list(buffer.data(), static_cast<std::int32_t>(buffer.size()));
    if (lastErr >= 1) return ListAnswerText(std::string_view(buffer.data(), static_cast<std::size_t>(lastErr)));
    if (lastErr != API_BAD_ARGUMENT) break;
  }
  return {};
}

}  // namespace

std::string TextArgument(BSTR text, bool keepNul) {
  const std::wstring_view wide = core::BstrText(text);
  std::string out;
  if ((!keepNul && wide.find(L'\0') != std::wstring_view::npos) || !core::WideToAnsiExact(wide, out)) {
    throw core::ComError(E_INVALIDARG, L"The text has no exact form in the system code page.");
  }
  return out;
}

BSTR TextAnswer(std::string_view text) {
  core::UniqueBstr answer = core::AnsiToBstr(text);
  if (!answer) throw std::bad_alloc();
  return answer.release();
}

std::string DomainNameAt(std::int32_t index) {
  char name[DomainNameBuffer] = {};
  const std::int32_t length = GetDomainName(index, name, DomainNameBuffer);
  return length > 0 ? std::string(name, static_cast<std::size_t>(length)) : std::string();
}

std::string DomainListAnswer(std::int32_t& lastErr) {
  return ListAnswer([] { return GetDomainCount(); }, &DomainListBufferSize,
                    [](char* buffer, std::int32_t length) { return GetDomainList(buffer, length); }, lastErr);
}

std::string AccountListAnswer(const std::string& domain, std::int32_t& lastErr) {
  return ListAnswer([&] { return GetUserCount(domain.c_str()); }, &AccountListBufferSize,
                    [&](char* buffer, std::int32_t length) { return GetUserList(domain.c_str(), buffer, length); },
                    lastErr);
}

void GetPropertyInto(const PropertyTarget& target, const VARIANT& command, VARIANT* result, std::int32_t& lastErr) {
  const PropertyOutcome outcome = GetPropertyOf(target, command, result, lastErr);
  if (FAILED(outcome.hr)) throw core::ComError(outcome.hr, outcome.description);
  lastErr = outcome.lastErr;
}

void SetPropertyFrom(const PropertyTarget& target, const VARIANT& command, const VARIANT& value, VARIANT_BOOL* result,
                     std::int32_t& lastErr) {
  const PropertyOutcome outcome = SetPropertyOf(target, command, value, result, lastErr);
  if (FAILED(outcome.hr)) throw core::ComError(outcome.hr, outcome.description);
  lastErr = outcome.lastErr;
}

LONG RecordAddress(const void* record) {
  if constexpr (sizeof(void*) == sizeof(LONG)) {
    return static_cast<LONG>(reinterpret_cast<std::uintptr_t>(record));
  } else {
    return 0;
  }
}

}  // namespace api::automation
