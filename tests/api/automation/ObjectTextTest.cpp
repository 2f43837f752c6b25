// The automation classes' texts: address splits, list answers and their
// buffer sizes, each against values written out here.
#include <gtest/gtest.h>

#include <string>

#include "api/automation/ObjectText.h"

namespace {

using namespace std::string_literals;
using api::automation::AccountAddress;

TEST(ObjectText, AccountAddressesSplitAtTheFirstAt) {
  struct Row {
    const char* address;
    const char* fallback;
    const char* alias;
    const char* domain;
  };
  const Row rows[] = {
      {"ann@example.com", "first.test", "ann", "example.com"},
      {"ann", "first.test", "ann", "first.test"},                      // no "@": the default domain
      {"ann@", "first.test", "ann", "first.test"},                     // an empty domain part too
      {"  ann   b  @  ex  ample.com ", "d", "ann b", "ex ample.com"},  // trimmed, blanks counted once
      {"a@b@c", "d", "a", "b@c"},                                      // the first "@" divides
      {"@example.com", "d", "", "example.com"},
      {"", "", "", ""},
      {"", "first.test", "", "first.test"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.address);
    const AccountAddress split = api::automation::SplitAccountAddress(row.address, row.fallback);
    EXPECT_EQ(split.alias, row.alias);
    EXPECT_EQ(split.domain, row.domain);
  }
}

TEST(ObjectText, ListAnswersKeepOnlyTheLastZero) {
  EXPECT_EQ(api::automation::ListAnswerText("one\0two\0\0"s), "one;two;\0"s);
  EXPECT_EQ(api::automation::ListAnswerText("\0"s), "\0"s);  // an empty list
  EXPECT_EQ(api::automation::ListAnswerText(""), "");
  EXPECT_EQ(api::automation::ListAnswerText("a\0\0\0"s), "a;;\0"s);

  EXPECT_EQ(api::automation::DomainListBufferSize(0), 2u);
  EXPECT_EQ(api::automation::DomainListBufferSize(3), 290u);
  EXPECT_EQ(api::automation::DomainListBufferSize(-5), 2u);
  // An empty domain still needs its one zero byte; a failed count no size below it.
  EXPECT_EQ(api::automation::AccountListBufferSize(0), 1u);
  EXPECT_EQ(api::automation::AccountListBufferSize(2), 513u);
  EXPECT_EQ(api::automation::AccountListBufferSize(-1), 1u);
}

}  // namespace
