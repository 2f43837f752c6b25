// The address rules of the sending library's lookup, on the host.
#include "sender/config/AddressRules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sender::AddressRefusal;

struct Row {
  std::string address, alias, domain;
  AddressRefusal refusal = AddressRefusal::None;
};

TEST(SendingAddress, SplitQuotesColonsAndRefusals) {
  const std::string x250(250, 'x');
  const Row rows[] = {
      {"john@a.test", "john", "a.test"},
      {"John Doe <John.Doe@Example.com>", "John.Doe", "Example.com"},  // as written: the back end gets it so
      {"\"john:smith\"@a.test", "john", "a.test"},                     // quoted: the text before the colon
      {"john:smith@a.test", "john:smith", "a.test"},                   // unquoted: the colon stays
      {"\"j d\"@a.test", "j d", "a.test"},
      {"\"a:b\":c@a.test", "a", "a.test"},
      {"\"a\"\"b\"@a.test", "ab", "a.test"},
      {"john", "john", "first.test"},  // no "@": the first served domain
      {"a@b@c.test", "a", "b@c.test"},
      {"<x@a.test>", "x", "a.test"},
      {"@a.test", "", "a.test", AddressRefusal::EmptyAlias},
      {"\" \t\"@a.test", " \t", "a.test", AddressRefusal::EmptyAlias},
      {"\"\"@a.test", "", "a.test", AddressRefusal::EmptyAlias},
      {"\":x\"@a.test", "", "a.test", AddressRefusal::EmptyAlias},
      {"a;b@a.test", "a;b", "a.test", AddressRefusal::ListSeparator},
      {"\"a;b\"@a.test", "a;b", "a.test", AddressRefusal::ListSeparator},
      {"[staff]@a.test", "[staff]", "a.test", AddressRefusal::GroupOrFile},
      {"\" [staff]\"@a.test", " [staff]", "a.test", AddressRefusal::GroupOrFile},
      {"{..\\x}@a.test", "{..\\x}", "a.test", AddressRefusal::GroupOrFile},
      {"a[b]@a.test", "a[b]", "a.test"},
      {x250 + "@abcd", x250, "abcd"},  // 255 characters in all
      {x250 + "@abcde", x250, "abcde", AddressRefusal::TooLong},
      {x250 + "xxxxx", x250 + "xxxxx", "first.test", AddressRefusal::TooLong},
  };
  for (const Row& row : rows) {
    const sender::LookupAddress got = sender::SplitLookupAddress(row.address, [] { return "first.test"; });
    EXPECT_EQ(got.alias, row.alias) << row.address;
    EXPECT_EQ(got.domain, row.domain) << row.address;
    EXPECT_EQ(got.refusal, row.refusal) << row.address;
  }
  // The first domain is asked for only when it is needed and the alias stands.
  int asked = 0;
  const sender::FirstDomain counting = [&] { return ++asked, std::string("first.test"); };
  sender::SplitLookupAddress("a@b.test", counting);
  sender::SplitLookupAddress("[staff]", counting);
  EXPECT_EQ(asked, 0);
  sender::SplitLookupAddress("ann", counting);
  EXPECT_EQ(asked, 1);
  // Checked again once the domain is resolved: a longer name may not fit.
  EXPECT_EQ(sender::RefuseLookup(x250, "abcd"), AddressRefusal::None);
  EXPECT_EQ(sender::RefuseLookup(x250, "abcd.x"), AddressRefusal::TooLong);
}

}  // namespace
