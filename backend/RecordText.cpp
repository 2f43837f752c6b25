#include "backend/RecordText.h"

#include <algorithm>
#include <cstring>

#include "core/util/NameText.h"
#include "core/util/PathText.h"
#include "core/util/Text.h"

namespace backend {

std::string DomainKey(std::string_view name) {
  return core::CutTo(core::LowerCase(core::Trim(name)), DomainNameLength);
}

std::vector<std::string> AliasKeys(std::string_view list) {
  std::vector<std::string> keys;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string key = core::LowerCase(core::Trim(list.substr(start, end - start)));
    if (!key.empty() && std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(std::move(key));
    start = end + 1;
  }
  return keys;
}

bool ShareAlias(std::string_view a, std::string_view b) {
  const std::vector<std::string> left = AliasKeys(a);
  for (const std::string& key : AliasKeys(b)) {
    if (std::find(left.begin(), left.end(), key) != left.end()) return true;
  }
  return false;
}

std::string ShortText(const std::uint8_t* record, std::size_t offset, std::size_t maxLength) {
  const std::size_t length = std::min<std::size_t>(record[offset], maxLength);
  return std::string(reinterpret_cast<const char*>(record + offset + 1), length);
}

void PutShortText(std::uint8_t* record, std::size_t offset, std::size_t maxLength, std::string_view text) {
  const std::size_t length = std::min(text.size(), maxLength);
  record[offset] = static_cast<std::uint8_t>(length);
  if (length != 0) std::memcpy(record + offset + 1, text.data(), length);
}

std::string AccountAliases(const std::uint8_t* record) { return ShortText(record, AliasOffset, 255); }
std::string AccountPassword(const std::uint8_t* record) { return ShortText(record, PasswordOffset, 127); }
std::string MailboxKey(const std::uint8_t* record) { return core::LowerCase(ShortText(record, MailboxOffset, 127)); }

bool SamePassword(std::string_view stored, std::string_view given) {
  // Both texts are short strings; every byte of a fixed span is compared.
  constexpr std::size_t Span = 256;
  unsigned difference = stored.size() != given.size() ? 1u : 0u;
  if (stored.size() > Span || given.size() > Span) return false;
  for (std::size_t i = 0; i < Span; ++i) {
    const unsigned a = i < stored.size() ? static_cast<unsigned char>(stored[i]) : 0u;
    const unsigned b = i < given.size() ? static_cast<unsigned char>(given[i]) : 0u;
    difference |= a ^ b;
  }
  return difference == 0;
}

SplitAddress SplitAtSign(std::string_view text) {
  SplitAddress out;
  const std::string login = core::Trim(text);
  const std::size_t at = login.find('@');
  if (at == std::string::npos) {
    out.alias = login;
    return out;
  }
  out.hasAt = true;
  out.alias = login.substr(0, at);
  out.domain = login.substr(at + 1);
  return out;
}

std::string ConfigFolderOf(const std::string& installFolder, const std::vector<std::string>& pathLines) {
  if (!pathLines.empty()) {
    const std::string line = core::Trim(core::StripComments(pathLines[0]));
    if (!line.empty()) return core::NormalizePath(line, true, false);
  }
  return core::NormalizePath(installFolder, true, false) + "config\\";
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.emplace_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace backend
