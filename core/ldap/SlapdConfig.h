#pragma once
// The directory settings of the installation's "ldap\slapd.conf": the suffix
// under which accounts are written, and the root DN and password the
// synchronisation binds with. Portable: the file's text in, settings out.
#include <string>
#include <string_view>

namespace core {

struct DirectorySettings {
  std::string userSuffix;  // "usersuffix", or "suffix" when that is empty
  std::string rootDn;
  std::string rootPassword;
};

// Reads the lines of the file's text (CR LF or LF). Each line is trimmed and
// its tabs turned into blanks; the first word, in any letter case, is the
// keyword, the rest (runs of blanks as one) the value, which loses one
// leading and one trailing double quote and is trimmed again. A later line
// overrides an earlier one; other keywords are ignored.
DirectorySettings ParseSlapdConfig(std::string_view text);

}  // namespace core
