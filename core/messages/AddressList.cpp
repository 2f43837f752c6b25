#include "core/messages/AddressList.h"

#include <set>

#include "core/util/NameText.h"
#include "core/util/NetText.h"
#include "core/util/Text.h"

namespace core {
namespace {

struct Walk {
  const AddressListSubject& subject;
  AddressListFiles& files;
  std::set<std::string> visited;  // lower-case file names
};

// The pattern equals the text, or the text once its "*" has been applied.
bool MatchesPattern(std::string text, const std::string& pattern) {
  ApplyWildcardMask(text, pattern.size(), pattern);
  return text == pattern;
}

bool Listed(Walk& walk, const std::string& file, int depth);

bool LineMatches(Walk& walk, const std::string& file, const std::string& line, int depth) {
  const AddressListSubject& subject = walk.subject;
  if (line.front() == '{') {
    const std::size_t close = line.find('}');
    if (close == std::string::npos) return false;
    const std::string included = walk.files.IncludePath(Trim(std::string_view(line).substr(1, close - 1)));
    return !included.empty() && LowerCase(included) != LowerCase(file) && walk.files.Exists(included) &&
           Listed(walk, included, depth + 1);
  }
  if (IsIPPattern(line)) return !subject.clientIP.empty() && walk.files.IPMatches(subject.clientIP, line);
  const bool address = line.find('@') != std::string::npos;
  for (const auto& [alias, domain] : subject.recipients) {
    if (MatchesPattern(address ? alias + "@" + domain : domain, line)) return true;
  }
  return MatchesPattern(address ? subject.senderAlias + "@" + subject.senderDomain : subject.senderDomain, line);
}

bool Listed(Walk& walk, const std::string& file, int depth) {
  if (depth > MaxListIncludeDepth || !walk.visited.insert(LowerCase(file)).second) return false;
  if (!walk.files.Exists(file)) return false;

  // Mail within one served domain counts as listed while the companion exists.
  const AddressListSubject& subject = walk.subject;
  if (!subject.recipients.empty() && walk.files.Exists(file + std::string(LocalListSuffix))) {
    const auto& [alias, domain] = subject.recipients.back();
    if (!subject.senderAlias.empty() && !alias.empty() && domain == subject.senderDomain &&
        walk.files.DomainServed(domain))
      return true;
  }

  std::vector<std::string> lines;
  if (!walk.files.ReadLines(file, lines)) return false;
  for (const std::string& raw : lines) {
    std::string line = Trim(LowerCase(StripComments(raw)));
    if (!line.empty() && line.front() == '@') line.erase(0, 1);
    if (!line.empty() && LineMatches(walk, file, line, depth)) return true;
  }
  return false;
}

}  // namespace

bool AddressNotListed(const AddressListSubject& subject, const std::string& listFile, AddressListFiles& files) {
  Walk walk{subject, files, {}};
  return !Listed(walk, listFile, 0);
}

}  // namespace core
