// The portable side of directory synchronisation: RFC 4514 escaping, the DN,
// the entry's attributes, the modification array and "slapd.conf".
#include "core/ldap/DirectoryEntry.h"

#include <gtest/gtest.h>

#include <string>

#include "core/ldap/SlapdConfig.h"

namespace {

using namespace core;
using namespace std::string_literals;

TEST(DnEscape, Rfc4514CasesAndInjections) {
  const struct {
    std::string value, escaped;
  } cases[] = {
      {"James \"Jim\" Smith, III", "James \\\"Jim\\\" Smith\\, III"},  // RFC 4514 section 4
      {"Sue, Grabbit and Runn", "Sue\\, Grabbit and Runn"},
      {"a,ou=x", "a\\,ou\\=x"},
      {"a+cn=b", "a\\+cn\\=b"},
      {"<;>\\", "\\<\\;\\>\\\\"},
      {"#a#", "\\#a#"},
      {" a b ", "\\ a b\\ "},
      {" ", "\\ "},
      {"a\0b"s, "a\\00b"},
      {"jos\xe9", "jos\xe9"},
      {"%s%n", "%s%n"},
      {"", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EscapeDnValue(c.value), c.escaped) << c.value;
}

TEST(DnEscape, WellFormedUtf8) {
  const struct {
    std::string text;
    bool valid;
  } cases[] = {
      {"", true},
      {"ou=Z\xc3\xbcrich", true},
      {"ou=Z\xfcrich", false},  // the same name in Latin-1
      {"\xc2\x80", true},
      {"\xc1\xbf", false},
      {"\xe0\x9f\xbf", false},  // overlong forms
      {"\xed\x9f\xbf", true},
      {"\xed\xa0\x80", false},
      {"\xf4\x8f\xbf\xbf", true},  // U+D7FF, U+D800, U+10FFFF
      {"\xf4\x90\x80\x80", false},
      {"a\xc3", false},
      {"\xe2\x82", false},  // beyond, cut short
      {"\xc3\xbc\xbc", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
}

TEST(UserDn, NameValueAndSuffix) {
  EXPECT_EQ(EntryNameValue("bob;robert", "example.test"), "bob@example.test");
  EXPECT_EQ(EntryNameValue(" a ;b", "x"), " a @x");
  EXPECT_EQ(EntryNameValue(";bob", "x"), "");
  EXPECT_EQ(EntryNameValue("  ;bob", "x"), "");

  const struct {
    std::string value, domain, suffix, dn;
  } cases[] = {
      {"bob@example.test", "example.test", "ou=%s,dc=example,dc=test",
       "cn=bob@example.test,ou=example.test,dc=example,dc=test"},
      {"bob@x", "x", "dc=example,dc=test", "cn=bob@x,dc=example,dc=test"},
      {"a@x,y", "x,y", "ou=%s,dc=%s", "cn=a@x\\,y,ou=x\\,y,dc=x\\,y"},
      {"a@x", "x", "%n%d%%s", "cn=a@x,%n%d%x"},
      {"#a @x", "x", "", "cn=\\#a @x,"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(BuildUserDn(c.value, c.domain, c.suffix), c.dn);
  const std::string longAlias(300, 'a');
  EXPECT_EQ(BuildUserDn(longAlias + "@x", "x", "dc=t").size(), 3 + 302 + 5);  // never cut
}

// The list as "op:name=v1|v2" items joined by blanks.
std::string Show(const LdapAttributeList& list) {
  std::string text;
  for (const LdapAttribute& a : list) {
    text += (text.empty() ? "" : " ") + std::to_string(static_cast<int>(a.op)) + ":" + a.name + "=";
    for (std::size_t i = 0; i < a.values.size(); ++i)
      text += (i ? "|" : "") + a.values[i];
  }
  return text;
}

TEST(UserEntry, NamesAliasesAndModes) {
  const struct {
    std::string name, aliases;
    bool modify;
    std::string entry;
  } cases[] = {
      {"", "bob", false, "0:objectClass=inetOrgPerson 0:cn=bob|bob@d 0:sn=bob 0:mail=bob@d"},
      {"Cher", "cher", false, "0:objectClass=inetOrgPerson 0:cn=Cher|cher@d 0:sn=Cher 0:mail=cher@d"},
      {"Cher;note", "cher", true, "2:cn=Cher|cher@d 2:givenName= 2:sn=Cher 2:mail=cher@d"},
      {"John  Ronald Reuel;x", "jrr;tolkien", true,
       "2:cn=John  Ronald Reuel|jrr@d 2:givenName=John 2:sn=Ronald Reuel 2:mail=jrr@d|tolkien@d"},
      {"Ann Lee", "a;A; b ;;c", false,
       "0:objectClass=inetOrgPerson 0:cn=Ann Lee|a@d 0:givenName=Ann 0:sn=Lee 0:mail=a@d|b@d"},
      {"BOB@D", "bob", true, "2:cn=BOB@D 2:givenName= 2:sn=BOB@D 2:mail=bob@d"},
      {"Jos\xe9", "jos\xe9", false, "0:objectClass=inetOrgPerson 0:cn=Jos\xe9|jos\xe9@d 0:sn=Jos\xe9"},
      {"", "jos\xe9;jo", true, "2:cn=jos\xe9|jos\xe9@d 2:givenName= 2:sn=jos\xe9 2:mail=jo@d"},
      {"", "jos\xe9", true, "2:cn=jos\xe9|jos\xe9@d 2:givenName= 2:sn=jos\xe9 2:mail="},
  };
  for (const auto& c : cases)
    EXPECT_EQ(Show(BuildLdapUserEntry(c.aliases, c.name, "d", c.modify)), c.entry) << c.name;

  LdapAttributeList list;
  EXPECT_EQ(AddLDAPAttribute(list, LdapModOp::Add, "x", 3, "v"), -1);
  EXPECT_EQ(AddLDAPAttribute(list, LdapModOp::Add, "x", -1, "v"), 0);
  EXPECT_EQ(AddLDAPAttribute(list, LdapModOp::Add, "x", 0, " V "), 0);
  EXPECT_EQ(AddLDAPAttribute(list, LdapModOp::Add, "x", 0, "v  w"), 0);
  EXPECT_EQ(AddLDAPAttribute(list, LdapModOp::Add, "x", 0, "V W"), 0);
  EXPECT_EQ(Show(list), "0:x=v|v  w");
}

TEST(Modifications, NullTerminatedRecordsOverUtf8Copies) {
  LdapAttributeList list{{LdapModOp::Replace, "cn", {"Jos\xe9", "b"}}, {LdapModOp::Replace, "givenName", {}}};
  LdapModifications mods(list, true);
  list.clear();  // the array holds copies
  LdapModRecord** records = mods.data();
  ASSERT_EQ(mods.size(), 2u);
  EXPECT_EQ(records[2], nullptr);
  EXPECT_EQ(records[0]->op, 2u);
  EXPECT_STREQ(records[0]->type, "cn");
  EXPECT_STREQ(records[0]->values[0], "Jos\xc3\xa9");
  EXPECT_STREQ(records[0]->values[1], "b");
  EXPECT_EQ(records[0]->values[2], nullptr);
  EXPECT_EQ(records[0]->reserved[0] | records[0]->reserved[1], 0u);
  EXPECT_STREQ(records[1]->type, "givenName");
  EXPECT_EQ(records[1]->values[0], nullptr);
}

TEST(SlapdConfig, KeywordsValuesAndPrecedence) {
  const struct {
    std::string text, expected;  // user suffix | root DN | root password
  } cases[] = {
      {"suffix a\nusersuffix \"ou=%s,b\"\n", "ou=%s,b||"},
      {"usersuffix\nSuffix\t\"dc=x\"\r\nrootdn\t\t\"cn=admin, dc=x\" \r\nROOTPW   se \t cret \n",
       "dc=x|cn=admin, dc=x|se cret"},
      {"suffix a\nsuffix b\nrootpw x\nrootpw \"\"", "b||"},
      {"# suffix x\nsuffixes y\n  rootpw \"a\n", "||a"},
      {"rootdn \" cn=a \"", "|cn=a|"},
      {"", "||"},
  };
  for (const auto& c : cases) {
    const DirectorySettings s = ParseSlapdConfig(c.text);
    EXPECT_EQ(s.userSuffix + "|" + s.rootDn + "|" + s.rootPassword, c.expected) << c.text;
  }
}

}  // namespace
