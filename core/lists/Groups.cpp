#include "core/lists/Groups.h"

#include <set>

#include "core/mime/HeaderText.h"
#include "core/util/NameText.h"
#include "core/util/NetText.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t LineLength = 255;

struct Walk {
  GroupFiles& files;
  std::set<std::string> visited;  // "g:" + group, "f:" + file, lower case
};

GroupMember Classify(const std::string& line) {
  GroupMember member;
  if (IsIPPattern(line)) {
    member.kind = GroupMember::Kind::IPPattern;
    member.text = line;
  } else if (IsGroupReference(line)) {
    member.kind = GroupMember::Kind::Group;
    member.text = LowerCase(line);
  } else if (line.size() >= 2 && line.front() == '{' && line.back() == '}') {
    member.kind = GroupMember::Kind::Include;
    member.text = Trim(std::string_view(line).substr(1, line.size() - 2));
  } else {
    // An address pattern: an address, "@" and a domain, or a domain alone,
    // with "*" wildcards; compared in lower case like the items.
    member.text = LowerCase(ExtractEmailAddress(line, true));
    if (!member.text.empty() && member.text.front() == '@') member.text.erase(0, 1);
  }
  return member;
}

bool MemberOf(const std::string& item, const std::string& group, bool includeFile, Walk& walk, int depth);

bool Admits(const std::string& item, const GroupMember& member, const std::string& group, Walk& walk, int depth) {
  switch (member.kind) {
    case GroupMember::Kind::IPPattern: {
      if (!IsIPPattern(item)) return false;
      std::string subject = item;
      std::string mask = member.text;
      ApplyIPMask(subject, LineLength, mask);
      return subject == mask;
    }
    case GroupMember::Kind::Group:
      return member.text != group && MemberOf(item, member.text, false, walk, depth + 1);
    case GroupMember::Kind::Include:
      return !member.text.empty() && MemberOf(item, member.text, true, walk, depth + 1);
    case GroupMember::Kind::Address: {
      if (member.text.empty()) return false;
      std::string text = item;
      const std::size_t at = text.find('@');
      if (member.text.find('@') == std::string::npos && at != std::string::npos) text.erase(0, at + 1);
      ApplyWildcardMask(text, LineLength, member.text);
      return text == member.text;
    }
  }
  return false;
}

bool MemberOf(const std::string& item, const std::string& group, bool includeFile, Walk& walk, int depth) {
  if (item.empty() || group.empty() || depth > MaxGroupDepth) return false;
  // A group or file already on the way is a cycle: it admits nothing more.
  if (!walk.visited.insert((includeFile ? "f:" : "g:") + LowerCase(group)).second) return false;
  const GroupFiles::Parsed file = walk.files.Read(includeFile ? std::string_view(group) : GroupsFileName);
  if (file == nullptr) return false;
  const std::vector<GroupMember>* members = &file->asInclude;
  if (!includeFile) {
    const auto found = file->sections.find(group);
    if (found == file->sections.end()) return false;
    members = &found->second;
  }
  const std::string self = includeFile ? std::string() : group;
  for (const GroupMember& member : *members) {
    if (Admits(item, member, self, walk, depth)) return true;
  }
  return false;
}

}  // namespace

std::shared_ptr<const ParsedGroupFile> ParseGroupFile(const std::vector<std::string>& lines) {
  auto parsed = std::make_shared<ParsedGroupFile>();
  std::vector<GroupMember>* section = nullptr;
  bool atName = true;  // the next non-empty line names a section
  for (const std::string& raw : lines) {
    const std::string cut = CutTo(raw, LineLength);
    if (Trim(cut).empty()) {
      atName = true;
      section = nullptr;
      continue;
    }
    const std::string line = Trim(StripComments(cut));
    if (line.empty()) continue;
    parsed->asInclude.push_back(Classify(line));
    if (atName) {
      atName = false;
      section = &parsed->sections[LowerCase(line)];
      continue;
    }
    if (section != nullptr) section->push_back(parsed->asInclude.back());
  }
  return parsed;
}

bool IsGroupMember(std::string_view item, std::string_view group, bool includeFile, GroupFiles& files) {
  Walk walk{files, {}};
  return MemberOf(LowerCase(item), includeFile ? std::string(group) : LowerCase(group), includeFile, walk, 0);
}

GroupMemberTest GroupTestOver(GroupFiles& files) {
  return [&files](std::string_view item, std::string_view group) { return IsGroupMember(item, group, false, files); };
}

}  // namespace core
