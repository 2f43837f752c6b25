#include "core/util/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace core {

namespace {

bool IsSpaceOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string CollapseBlanks(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (const char c : text) {
    if (c == ' ' && !result.empty() && result.back() == ' ') continue;
    result.push_back(c);
  }
  return result;
}

}  // namespace

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && IsSpaceOrControl(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && IsSpaceOrControl(text.back()))
    text.remove_suffix(1);
  return text;
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

std::string UpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    c = AsciiUpper(c);
  return result;
}

// Eight bytes at a time: every name a lookup asks for passes here.
void LowerCaseInto(std::string_view from, char* to) {
  constexpr std::uint64_t Ones = 0x0101010101010101u;
  constexpr std::uint64_t High = 0x8080808080808080u;
  std::size_t i = 0;
  for (; i + 8 <= from.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, from.data() + i, 8);
    const std::uint64_t low = word & ~High;
    // High bit of each byte: at least 'A', and above 'Z', for the low 7 bits.
    const std::uint64_t fromA = low + (0x80 - 'A') * Ones;
    const std::uint64_t pastZ = low + (0x80 - 'Z' - 1) * Ones;
    const std::uint64_t upper = fromA & ~pastZ & ~word & High;
    word |= upper >> 2;
    std::memcpy(to + i, &word, 8);
  }
  for (; i < from.size(); ++i)
    to[i] = AsciiLower(from[i]);
}

std::string LowerCase(std::string_view text) {
  std::string result(text.size(), '\0');
  LowerCaseInto(text, result.data());
  return result;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

std::string CutTo(std::string_view text, std::size_t maxLength) { return std::string(text.substr(0, maxLength)); }

// Walks the list once with views; the list is treated as if one separator
// were appended, so the last item needs no trailing separator.
std::string GetDelimitedItem(std::string_view text, int index, char separator, bool raw, bool withRest) {
  if (index < 0) return {};
  const std::string_view list = raw ? text : TrimView(text);
  std::size_t start = 0;
  for (int i = 0;; ++i) {
    if (start > list.size()) return {};  // past the appended separator
    std::size_t end = list.find(separator, start);
    if (end == std::string_view::npos) end = list.size();
    if (i == index) {
      const std::string_view item = list.substr(start, end - start);
      std::string result(raw ? item : TrimView(item));
      // The rest keeps its own separators; the appended one is not returned.
      if (withRest && end < list.size()) {
        result.push_back(separator);
        result.append(list.substr(end + 1));
      }
      return result;
    }
    start = end + 1;
  }
}

std::string GetDelimitedWord(std::string_view text, int index, char separator, bool raw, bool withRest) {
  if (index < 0) return {};
  return GetDelimitedItem(CollapseBlanks(text), index, separator, raw, withRest);
}

void ReplaceText(std::string& text, std::string_view oldText, std::string_view newText, bool caseSensitive) {
  if (oldText.empty() || text.size() < oldText.size()) return;
  const auto equal = [caseSensitive](char a, char b) {
    return caseSensitive ? a == b : AsciiUpper(a) == AsciiUpper(b);
  };
  std::string result;
  auto copied = text.cbegin();
  auto found = std::search(copied, text.cend(), oldText.begin(), oldText.end(), equal);
  if (found == text.cend()) return;
  while (found != text.cend()) {
    result.append(copied, found);
    result.append(newText);
    copied = found + static_cast<std::ptrdiff_t>(oldText.size());
    found = std::search(copied, text.cend(), oldText.begin(), oldText.end(), equal);
  }
  result.append(copied, text.cend());
  text = std::move(result);
}

int LastCharPos(char c, std::string_view text) {
  const std::size_t at = text.rfind(c);
  return at == std::string_view::npos ? 0 : static_cast<int>(at + 1);
}

int PosInRange(std::string_view sub, std::string_view text, int from, int to) {
  if (sub.empty() || text.empty()) return 0;
  const auto length = static_cast<long long>(text.size());
  const long long first = from < 1 ? 1 : from;
  const long long last = (to == 0 || to > length) ? length : to;
  if (last < first || first > length) return 0;
  // Only the part of the text where an occurrence could start in range.
  const auto window =
      static_cast<std::size_t>(std::min<long long>(length, last - 1 + static_cast<long long>(sub.size())));
  const std::size_t at = text.substr(0, window).find(sub, static_cast<std::size_t>(first - 1));
  return at == std::string_view::npos ? 0 : static_cast<int>(at + 1);
}

std::string TrimAroundSeparator(std::string_view text, char separator) {
  if (text.find(separator) == std::string_view::npos) return std::string(text);
  std::string result = GetDelimitedWord(text, 0, separator);
  result.push_back(separator);
  result.append(GetDelimitedWord(text, 1, separator, false, true));
  return result;
}

std::string CopyRange(std::string_view text, int from, int to) {
  const auto length = static_cast<long long>(text.size());
  const long long first = from < 1 ? 1 : from;
  const long long last = to > length ? length : to;
  if (last < first) return {};
  return std::string(text.substr(static_cast<std::size_t>(first - 1), static_cast<std::size_t>(last - first + 1)));
}

bool ContainsHighChars(std::string_view text) {
  for (const char c : text)
    if (static_cast<unsigned char>(c) >= 128) return true;
  return false;
}

}  // namespace core
