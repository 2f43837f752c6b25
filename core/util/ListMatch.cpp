#include "core/util/ListMatch.h"

#include "core/util/Text.h"

namespace core {
namespace {

// The items of a list that ends with ";", trimmed.
std::vector<std::string> Items(const std::string& list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t semi = list.find(';', start);
    if (semi == std::string::npos) break;
    items.push_back(Trim(std::string_view(list).substr(start, semi - start)));
    start = semi + 1;
  }
  return items;
}

// Trims and lower-cases one item of b without allocating.
bool ItemEquals(std::string_view item, const std::string& lowered) {
  std::size_t begin = 0, end = item.size();
  while (begin < end && static_cast<unsigned char>(item[begin]) <= 32)
    ++begin;
  while (end > begin && static_cast<unsigned char>(item[end - 1]) <= 32)
    --end;
  if (end - begin != lowered.size()) return false;
  for (std::size_t i = 0; i < lowered.size(); ++i) {
    char c = item[begin + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowered[i]) return false;
  }
  return true;
}

}  // namespace

bool IsGroupReference(std::string_view text) {
  if (text.size() < 3 || text.front() != '[' || text.back() != ']') return false;
  const char c = text[1];
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

ListMatcher::ListMatcher(std::string_view a, GroupMemberTest isGroupMember) : isGroupMember_(std::move(isGroupMember)) {
  if (Trim(a).empty()) return;
  empty_ = false;
  std::string list = LowerCase(a);
  if (list.back() != ';') list += ';';
  items_ = Items(list);
}

bool ListMatcher::Matches(std::string_view b) const {
  if (empty_ || Trim(b).empty()) return false;
  // The items of b, each followed by ";" (one is added at the end).
  for (const std::string& x : items_) {
    std::size_t start = 0;
    while (start < b.size()) {
      std::size_t semi = b.find(';', start);
      const bool last = semi == std::string_view::npos;
      if (last) semi = b.size();
      const std::string_view y = b.substr(start, semi - start);
      if (ItemEquals(y, x)) return true;
      if (isGroupMember_ && y.find('[') != std::string_view::npos) {
        const std::string group = LowerCase(Trim(y));
        if (IsGroupReference(group) && isGroupMember_(x, group)) return true;
      }
      start = semi + 1;
      if (last) break;
    }
  }
  return false;
}

bool MatchStringLists(std::string_view a, std::string_view b, const GroupMemberTest& isGroupMember) {
  return ListMatcher(a, isGroupMember).Matches(b);
}

}  // namespace core
