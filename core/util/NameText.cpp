#include "core/util/NameText.h"

#include <cstring>

#include "core/util/Text.h"

namespace core {

namespace {

bool IsLetterOrDigit(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool IsDomainNameChar(unsigned char c) {
  return IsLetterOrDigit(c) || c == '-' || c == '.' || c == '[' || c == ']' || c >= 127;
}

bool IsAddressChar(unsigned char c) {
  if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
  if (IsLetterOrDigit(c)) return true;
  return c != 0 && std::strchr("!#$%&'*+-./;=?@[]^_`{|}~", c) != nullptr;
}

}  // namespace

std::string FirstListItem(std::string_view text) { return CutTo(text.substr(0, text.find(';')), ShortTextLength); }

bool IsValidDomainName(std::string_view text) {
  if (text.empty()) return true;
  if (text.front() == '.' || text.back() == '.' || text.find("..") != std::string_view::npos) return false;
  for (const char c : text)
    if (!IsDomainNameChar(static_cast<unsigned char>(c))) return false;
  return true;
}

bool IsValidAddressChars(std::string_view text, bool aliasList) {
  for (const char c : text) {
    if (!IsAddressChar(static_cast<unsigned char>(c))) return false;
    if (aliasList ? c == '@' : (c == ';' || c == '[' || c == ']')) return false;
  }
  return true;
}

std::string RemoveFileNameChars(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text)
    if (std::strchr("\"*/:<>?|", c) == nullptr || c == 0) result.push_back(c);
  return CutTo(result, ShortTextLength);
}

// Works on the original text in one pass: each doubled marker drops one copy
// and the search goes on right after the copy that stays.
void CutAtCommentMarker(std::string& text, std::string_view marker) {
  if (marker.empty()) return;
  const std::string original = text;
  std::string kept;
  std::size_t copyFrom = 0;
  std::size_t searchFrom = 0;
  for (;;) {
    const std::size_t at = original.find(marker, searchFrom);
    if (at == std::string::npos) {
      if (copyFrom == 0) return;  // no marker at all: unchanged, not trimmed
      kept.append(original, copyFrom);
      text = std::move(kept);
      return;
    }
    kept.append(original, copyFrom, at - copyFrom);
    const std::size_t after = at + marker.size();
    if (after >= original.size() || original[after] != marker.front()) {
      text = Trim(kept);
      return;
    }
    copyFrom = after;
    searchFrom = after + 1;
  }
}

// A "/*" without a later "*/" removes the rest of the line.
std::string StripComments(std::string_view line) {
  std::string result(line);
  if (result.find('#') != std::string::npos) CutAtCommentMarker(result, "#");
  if (result.find("// ") != std::string::npos) CutAtCommentMarker(result, "// ");
  const std::size_t open = result.find("/*");
  if (open != std::string::npos) {
    const std::size_t close = result.find("*/", open + 2);
    result.erase(open, close == std::string::npos ? std::string::npos : close + 2 - open);
    result = Trim(result);
  }
  return result;
}

std::string NormalizeListSeparators(std::string_view text) {
  std::string trimmed = Trim(text);
  if (trimmed.find_first_of(", ") == std::string::npos) return trimmed;
  std::string result;
  result.reserve(trimmed.size());
  for (const char c : trimmed) {
    if (c == ' ') continue;
    result.push_back(c == ',' ? ';' : c);
  }
  return result;
}

}  // namespace core
