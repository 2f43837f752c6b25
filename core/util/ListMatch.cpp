#include "core/util/ListMatch.h"

#include <string>
#include <vector>

#include "core/util/Text.h"

namespace core {
namespace {

// The items of a list that ends with ";" (one is added when missing), trimmed.
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

bool MatchStringLists(std::string_view a, std::string_view b, const GroupMemberTest& isGroupMember) {
  if (Trim(a).empty() || Trim(b).empty()) return false;
  std::string left = LowerCase(a);
  std::string right = LowerCase(b);
  if (left.find(';') == std::string::npos && right.find(';') == std::string::npos) return left == right;
  if (left.back() != ';') left += ';';
  if (right.back() != ';') right += ';';
  const std::vector<std::string> rightItems = Items(right);
  for (const std::string& x : Items(left)) {
    for (const std::string& y : rightItems) {
      if (y == x) return true;
      if (isGroupMember && y.find('[') != std::string::npos && IsGroupReference(y) && isGroupMember(x, y)) return true;
    }
  }
  return false;
}

}  // namespace core
