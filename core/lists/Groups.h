#pragma once
// Group references in address lists: "[Name]" stands for the members of the
// section Name of "groups.dat" (IP patterns, other groups, "{file}" includes
// and address patterns). Pure over a file-reading seam, so it builds and is
// fuzzed natively; the Windows seam reads the configuration folder's files.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/util/ListMatch.h"

namespace core {

// One member line, classified once when its file is parsed.
struct GroupMember {
  enum class Kind : std::uint8_t { IPPattern, Group, Include, Address };
  Kind kind = Kind::Address;
  std::string text;  // the pattern, the group reference (lower case) or the file name
};

// A groups file as the lookups use it: the members of each section by its
// lower-case name line (sections of one name joined in order), and every
// line as a member for a file that "{...}" includes.
struct ParsedGroupFile {
  std::map<std::string, std::vector<GroupMember>> sections;
  std::vector<GroupMember> asInclude;
};

// Comments stripped, lines trimmed; an empty line (as read) ends a section,
// the next non-empty line names one.
std::shared_ptr<const ParsedGroupFile> ParseGroupFile(const std::vector<std::string>& lines);

// Where the group machinery reads its files: "groups.dat" and the names that
// "{...}" lines include (the seam resolves relative names and may keep the
// parsed file while the file does not change).
class GroupFiles {
 public:
  virtual ~GroupFiles() = default;
  using Parsed = std::shared_ptr<const ParsedGroupFile>;
  // The parsed file, null when it is missing or cannot be read.
  virtual Parsed Read(std::string_view name) = 0;
};

inline constexpr std::string_view GroupsFileName = "groups.dat";
// Nested groups and includes are followed this deep; a cycle is no match.
inline constexpr int MaxGroupDepth = 16;

// Whether the (lower-case) item belongs to the group: its section of
// "groups.dat", or with includeFile the whole file named group.
bool IsGroupMember(std::string_view item, std::string_view group, bool includeFile, GroupFiles& files);

// The group test that list matching takes, over the given files.
GroupMemberTest GroupTestOver(GroupFiles& files);

}  // namespace core
