#pragma once
// Matching of ";"-separated lists of aliases or addresses: items compared
// trimmed and without regard to ASCII case. Group references are resolved by
// the caller's test (the groups file is read above this floor).
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// Whether item x belongs to the group named by reference y ("[Name]").
using GroupMemberTest = std::function<bool(std::string_view item, std::string_view groupReference)>;

// True when some item of a equals some item of b: items are split at ";",
// trimmed and compared without regard to ASCII case; a text without ";" is a
// list of one item; empty items take part like any other. With
// isGroupMember, an item of b that is a group reference (begins with "[" and
// a letter, ends with "]") also matches every item of a that the test admits.
bool MatchStringLists(std::string_view a, std::string_view b, const GroupMemberTest& isGroupMember = {});

// "[" + letter ... "]".
bool IsGroupReference(std::string_view text);

// MatchStringLists with list a prepared once, for matching it against many
// lists b (every record of an account file, say).
class ListMatcher {
 public:
  explicit ListMatcher(std::string_view a, GroupMemberTest isGroupMember = {});
  bool Matches(std::string_view b) const;

 private:
  std::vector<std::string> items_;  // a's items, trimmed and lower-cased; none for an empty a
  GroupMemberTest isGroupMember_;
};

}  // namespace core
