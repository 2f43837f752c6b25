#include "core/ldap/SlapdConfig.h"

#include <algorithm>

#include "core/util/Text.h"

namespace core {
namespace {

std::string ValueOf(const std::string& line) {
  std::string value = GetDelimitedWord(line, 1, ' ', false, true);
  if (value.empty()) return value;
  if (value.front() == '"') value.erase(0, 1);
  if (!value.empty() && value.back() == '"') value.pop_back();
  return Trim(value);
}

}  // namespace

DirectorySettings ParseSlapdConfig(std::string_view text) {
  std::string suffix, userSuffix;
  DirectorySettings settings;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty()) continue;
    std::replace(line.begin(), line.end(), '\t', ' ');
    const std::string keyword = LowerCase(GetDelimitedWord(line, 0, ' '));
    if (keyword == "suffix")
      suffix = ValueOf(line);
    else if (keyword == "usersuffix")
      userSuffix = ValueOf(line);
    else if (keyword == "rootdn")
      settings.rootDn = ValueOf(line);
    else if (keyword == "rootpw")
      settings.rootPassword = ValueOf(line);
  }
  settings.userSuffix = userSuffix.empty() ? suffix : userSuffix;
  return settings;
}

}  // namespace core
