#pragma once
// Matching of ";"-separated lists of aliases or addresses: items compared
// trimmed and without regard to ASCII case. Group references are resolved by
// the caller's test (the groups file is read above this floor).
#include <functional>
#include <string_view>

namespace core {

// Whether item x belongs to the group named by reference y ("[Name]").
using GroupMemberTest = std::function<bool(std::string_view item, std::string_view groupReference)>;

// True when some item of a equals some item of b. Two texts without ";" are
// compared whole (after lower-casing); otherwise items are split at ";" and
// trimmed, and empty items take part like any other. With isGroupMember, an
// item of b that is a group reference (begins with "[" and a letter, ends
// with "]") also matches every item of a that the test admits.
bool MatchStringLists(std::string_view a, std::string_view b, const GroupMemberTest& isGroupMember = {});

// "[" + letter ... "]".
bool IsGroupReference(std::string_view text);

}  // namespace core
