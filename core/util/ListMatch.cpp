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

}  // namespace

bool IsGroupReference(std::string_view text) {
  if (text.size() < 3 || text.front() != '[' || text.back() != ']') return false;
  const char c = text[1];
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

ListMatcher::ListMatcher(std::string_view a, GroupMemberTest isGroupMember) : isGroupMember_(std::move(isGroupMember)) {
  if (TrimView(a).empty()) return;
  std::string list = LowerCase(a);
  if (list.back() != ';') list += ';';
  items_ = Items(list);
}

bool ListMatcher::Matches(std::string_view b) const {
  if (items_.empty() || TrimView(b).empty()) return false;
  // b is walked once, each of its items against every item of a (b's items
  // each end with ";", one is added at the end).
  std::size_t start = 0;
  while (start < b.size()) {
    std::size_t semi = b.find(';', start);
    const bool last = semi == std::string_view::npos;
    if (last) semi = b.size();
    const std::string_view y = TrimView(b.substr(start, semi - start));
    for (const std::string& x : items_)
      if (SameText(y, x)) return true;
    if (isGroupMember_ && y.find('[') != std::string_view::npos) {
      const std::string group = LowerCase(y);
      if (IsGroupReference(group))
        for (const std::string& x : items_)
          if (isGroupMember_(x, group)) return true;
    }
    start = semi + 1;
    if (last) break;
  }
  return false;
}

bool MatchStringLists(std::string_view a, std::string_view b, const GroupMemberTest& isGroupMember) {
  return ListMatcher(a, isGroupMember).Matches(b);
}

}  // namespace core
