#pragma once
// Address-list files ("ldapbypass.dat" and the like): lines of IP patterns,
// address patterns (with "@"), domain patterns and "{file}" includes,
// matched against a message's recipients, sender and client address. Pure
// over a file seam, so it builds and is fuzzed natively; the Windows seam
// reads the configuration folder's files.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace core {

// What a list is matched against, lower case, split at the "@".
struct AddressListSubject {
  std::vector<std::pair<std::string, std::string>> recipients;  // alias, domain
  std::string senderAlias, senderDomain;
  std::string clientIP;  // empty: not known
};

// Where the check reads its files and asks about domains and addresses.
class AddressListFiles {
 public:
  virtual ~AddressListFiles() = default;
  virtual bool Exists(const std::string& fileName) = 0;
  // The file's lines; false when it cannot be read.
  virtual bool ReadLines(const std::string& fileName, std::vector<std::string>& lines) = 0;
  // The full name of a file an include line names.
  virtual std::string IncludePath(std::string_view name) = 0;
  virtual bool DomainServed(std::string_view domain) = 0;
  virtual bool IPMatches(std::string_view ip, std::string_view pattern) = 0;
};

// Includes are followed this deep, and each file once; a cycle matches nothing more.
inline constexpr int MaxListIncludeDepth = 16;

// The companion whose presence lets mail between two addresses of one served
// domain count as listed.
inline constexpr std::string_view LocalListSuffix = ".local.dat";

// True when no entry of the list (or of a file it includes) matches; a list
// that does not exist or cannot be read matches nothing.
bool AddressNotListed(const AddressListSubject& subject, const std::string& listFile, AddressListFiles& files);

}  // namespace core
