#pragma once
// What one synchronisation writes into the directory, built apart from the
// connection (portable): the entry's DN with its value escaped as RFC 4514
// asks, the ordered attribute list of an account's inetOrgPerson entry, and
// the modification array that the client's ldap_add and ldap_modify read.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace core {

// RFC 4514 string form of one attribute value: a backslash before each of
// , + " \ < > ; = and before a leading "#" or blank and a trailing blank; NUL
// as "\00". Other bytes, those from 128 up included, stay as they are.
std::string EscapeDnValue(std::string_view value);

// Whether text is well-formed UTF-8 (no overlong form, no surrogate, nothing
// above U+10FFFF). Plain ASCII is.
bool IsValidUtf8(std::string_view text);

// The value that names an account's entry: its first alias (the text before
// the first ";" of the alias list) + "@" + domain; empty when that alias is
// blank, and then the account is not synchronised.
std::string EntryNameValue(std::string_view aliasList, std::string_view domain);

// Whether two name values name the same entry (compared as the directory
// compares cn: ASCII case, outer blanks and runs of blanks do not count).
bool SameEntryName(std::string_view a, std::string_view b);

// "cn=" + the escaped name value + "," + the user suffix, with the escaped
// domain put in place of every "%s" (as text: no other "%" sequence means
// anything). Nothing is cut and nothing converted: the caller hands the name
// value and the domain in the client's form, and the suffix as the
// configuration file holds it (in that form too).
std::string BuildUserDn(std::string_view nameValue, std::string_view domain, std::string_view userSuffix);

// ---- Attribute list ------------------------------------------------------------

enum class LdapModOp : std::uint32_t { Add = 0, Delete = 1, Replace = 2 };

struct LdapAttribute {
  LdapModOp op = LdapModOp::Add;
  std::string name;
  std::vector<std::string> values;  // ordered; none on a replace removes the attribute
};
using LdapAttributeList = std::vector<LdapAttribute>;

// Index -1 appends a new attribute with op and name and uses it; the value
// is then appended to the attribute at index unless it already holds that
// value (compared as the directory does: ASCII case, outer blanks and runs
// of blanks ignored), which the directory would refuse. Answers the index
// of the attribute used, -1 for an index out of range.
int AddLDAPAttribute(LdapAttributeList& list, LdapModOp op, std::string_view name, int index, std::string_view value);

// The entry of an account: objectClass (adds only), cn (the person's name
// and the entry's name value), givenName, sn, mail (one value per alias,
// "alias@domain"; an 8-bit address, which mail cannot hold, is left out).
// nameText is the record's name field (its part before the
// first ";" is the name). A modify replaces every attribute and, for a
// one-word name (or no 7-bit address), replaces givenName (mail) with no value.
LdapAttributeList BuildLdapUserEntry(std::string_view aliasList, std::string_view nameText, std::string_view domain,
                                     bool modify);

// ---- Modification array ------------------------------------------------------------

// One modification record as the client library reads it: the operation, the
// attribute name, the null-terminated value array, then two words that stay 0.
struct LdapModRecord {
  std::uint32_t op;
  const char* type;
  char** values;
  std::uintptr_t reserved[2];
};
static_assert(offsetof(LdapModRecord, op) == 0);
static_assert(offsetof(LdapModRecord, type) == sizeof(void*));
static_assert(offsetof(LdapModRecord, values) == 2 * sizeof(void*));
static_assert(sizeof(LdapModRecord) == 5 * sizeof(void*), "five words on i686");

// The null-terminated array of modification records over copies of an
// attribute list's texts, converted from Latin-1 to UTF-8 when asked. Valid
// while the object lives and is not moved.
class LdapModifications {
 public:
  LdapModifications(const LdapAttributeList& list, bool toUtf8);
  LdapModifications(const LdapModifications&) = delete;
  LdapModifications& operator=(const LdapModifications&) = delete;
  LdapModRecord** data() { return pointers_.data(); }
  std::size_t size() const { return records_.size(); }

 private:
  std::vector<std::string> texts_;
  std::vector<std::vector<char*>> values_;
  std::vector<LdapModRecord> records_;
  std::vector<LdapModRecord*> pointers_;
};

}  // namespace core
