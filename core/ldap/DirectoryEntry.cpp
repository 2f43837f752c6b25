#include "core/ldap/DirectoryEntry.h"

#include "core/mime/TransferCodecs.h"
#include "core/util/NameText.h"
#include "core/util/Text.h"

namespace core {
namespace {

// The form in which the directory compares two values of cn or mail: ASCII
// case, outer blanks and runs of blanks do not count.
std::string CompareKey(std::string_view value) {
  std::string key;
  for (const char c : Trim(value)) {
    if (c == ' ' && !key.empty() && key.back() == ' ') continue;
    key.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return key;
}

bool IsSpecial(char c) {
  switch (c) {
    case ',':
    case '+':
    case '"':
    case '\\':
    case '<':
    case '>':
    case ';':
    case '=':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string EscapeDnValue(std::string_view value) {
  std::string out;
  out.reserve(value.size() + 8);
  for (std::size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '\0') {
      out += "\\00";
      continue;
    }
    const bool edge = (i == 0 && (c == '#' || c == ' ')) || (i + 1 == value.size() && c == ' ');
    if (edge || IsSpecial(c)) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    std::uint32_t code = lead;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, code = lead & 0x07u;
    } else {
      return false;
    }
    if (text.size() - i <= extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3Fu);
    }
    const std::uint32_t least = extra == 2 ? 0x800 : extra == 3 ? 0x10000 : 0x80;
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

std::string EntryNameValue(std::string_view aliasList, std::string_view domain) {
  const std::string alias(aliasList.substr(0, aliasList.find(';')));
  if (Trim(alias).empty()) return {};
  return alias + "@" + std::string(domain);
}

bool SameEntryName(std::string_view a, std::string_view b) { return CompareKey(a) == CompareKey(b); }

std::string BuildUserDn(std::string_view nameValue, std::string_view domain, std::string_view userSuffix) {
  std::string suffix(userSuffix);
  ReplaceText(suffix, "%s", EscapeDnValue(domain), true);
  return "cn=" + EscapeDnValue(nameValue) + "," + suffix;
}

int AddLDAPAttribute(LdapAttributeList& list, LdapModOp op, std::string_view name, int index, std::string_view value) {
  if (index == -1) {
    list.push_back({op, std::string(name), {}});
    index = static_cast<int>(list.size()) - 1;
  }
  if (index < 0 || static_cast<std::size_t>(index) >= list.size()) return -1;
  std::vector<std::string>& values = list[static_cast<std::size_t>(index)].values;
  const std::string key = CompareKey(value);
  for (const std::string& held : values)
    if (CompareKey(held) == key) return index;
  values.emplace_back(value);
  return index;
}

LdapAttributeList BuildLdapUserEntry(std::string_view aliasList, std::string_view nameText, std::string_view domain,
                                     bool modify) {
  const LdapModOp op = modify ? LdapModOp::Replace : LdapModOp::Add;
  LdapAttributeList list;
  // A replace would strip auxiliary classes that other tools added.
  if (!modify) AddLDAPAttribute(list, op, "objectClass", -1, "inetOrgPerson");

  std::string name = Trim(FirstListItem(nameText));
  std::string given = GetDelimitedWord(name, 0, ' ');
  if (given.empty()) given = Trim(FirstListItem(aliasList));
  std::string surname = GetDelimitedWord(name, 1, ' ', false, true);
  if (surname.empty()) {
    surname = given;
    given.clear();
  }
  if (name.empty()) name = surname;

  // The entry's own name value belongs to cn: a replace without it is refused.
  const int cn = AddLDAPAttribute(list, op, "cn", -1, name);
  AddLDAPAttribute(list, op, "cn", cn, EntryNameValue(aliasList, domain));
  if (!given.empty())
    AddLDAPAttribute(list, op, "givenName", -1, given);
  else if (modify)
    list.push_back({op, "givenName", {}});  // no stale first name stays
  AddLDAPAttribute(list, op, "sn", -1, surname);
  // mail holds IA5 (7-bit) text only: one 8-bit address would have the
  // directory refuse the whole entry, so such an address is left out.
  int mail = -1;
  for (int i = 0;; ++i) {
    const std::string alias = GetDelimitedWord(aliasList, i, ';');
    if (alias.empty()) break;
    const std::string address = alias + "@" + std::string(domain);
    if (!ContainsHighChars(address)) mail = AddLDAPAttribute(list, op, "mail", mail, address);
  }
  if (mail == -1 && modify) list.push_back({op, "mail", {}});
  return list;
}

LdapModifications::LdapModifications(const LdapAttributeList& list, bool toUtf8) {
  std::size_t count = 0;
  for (const LdapAttribute& attribute : list)
    count += 1 + attribute.values.size();
  texts_.reserve(count);  // the pointers below stay valid
  values_.reserve(list.size());
  records_.reserve(list.size());
  for (const LdapAttribute& attribute : list) {
    texts_.push_back(attribute.name);
    const char* type = texts_.back().c_str();
    std::vector<char*>& values = values_.emplace_back();
    for (const std::string& value : attribute.values) {
      texts_.push_back(toUtf8 ? Latin1ToUtf8(value) : value);
      values.push_back(texts_.back().data());
    }
    values.push_back(nullptr);
    records_.push_back({static_cast<std::uint32_t>(attribute.op), type, values.data(), {0, 0}});
  }
  for (LdapModRecord& record : records_)
    pointers_.push_back(&record);
  pointers_.push_back(nullptr);
}

}  // namespace core
