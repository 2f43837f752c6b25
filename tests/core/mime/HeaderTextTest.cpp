// Encoded words against RFC 2047 section 8 and Python's
// email.header.decode_header (rows from tests/core/mime/oracle.py);
// parameters and addresses.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "core/mime/HeaderText.h"

namespace core {
namespace {

using namespace std::literals;

struct Pair {
  std::string_view in;
  std::string_view out;
};

TEST(DecodeHeaderText, AgainstDecodeHeader) {
  const Pair rows[] = {
      {"(=?ISO-8859-1?Q?a?=)"sv, "(a)"sv},
      {"(=?ISO-8859-1?Q?a?= b)"sv, "(a b)"sv},
      {"(=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=)"sv, "(ab)"sv},
      {"(=?ISO-8859-1?Q?a?=  =?ISO-8859-1?Q?b?=)"sv, "(ab)"sv},
      {"(=?ISO-8859-1?Q?a?=\r\n    =?ISO-8859-1?Q?b?=)"sv, "(ab)"sv},
      {"(=?ISO-8859-1?Q?a_b?=)"sv, "(a b)"sv},
      {"(=?ISO-8859-1?Q?a?= =?ISO-8859-2?Q?_b?=)"sv, "(a b)"sv},
      {"=?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>"sv, "Keith Moore <moore@cs.utk.edu>"sv},
      {"=?ISO-8859-1?Q?Keld_J=F8rn_Simonsen?= <keld@dkuug.dk>"sv, "Keld J\370rn Simonsen <keld@dkuug.dk>"sv},
      {"=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>"sv, "Andr\351 Pirard <PIRARD@vm1.ulg.ac.be>"sv},
      {"=?ISO-8859-1?B?SWYgeW91IGNhbiByZWFkIHRoaXMgeW8=?=\r\n    =?ISO-8859-2?B?dSB1bmRlcnN0YW5kIHRoZSBleGFtcGxlLg==?="sv,
       "If you can read this you understand the example."sv},
      {"=?utf-8?b?w6TDtsO8?= plain"sv, "\303\244\303\266\303\274 plain"sv},
      {"Re: =?utf-8?q?caf=C3=A9?= at noon"sv, "Re: caf\303\251 at noon"sv},
  };
  for (const Pair& row : rows)
    EXPECT_EQ(DecodeHeaderText(row.in, false), row.out) << row.in;
}

TEST(DecodeHeaderText, UnderscoresOtherLettersAndBrokenWords) {
  const struct {
    std::string_view in;
    bool keepUnderscores;
    std::string_view out;
  } rows[] = {
      {"=?x?Q?a_b?=", true, "a_b"},
      {"plain_text =?x?Q?a_b?=", false, "plain_text a b"},  // only encoded words lose "_"
      {"=?x?X?abc?= tail  ", false, "abc tail"},            // other letters pass undecoded
      {"a =? b ?= c", false, "a =? b ?= c"},                // no encoding letter
      {"=?x?Q?unclosed", false, "=?x?Q?unclosed"},
      {"=?x?Q?a?= =?x?Q?b", false, "a =?x?Q?b"},
      {"=?=?x?q?ok?=", false, "=?ok"},
      {"=?x?Q?a?b?=", false, "a?b"},
      {"=?x?Q?\?=end", false, "end"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(DecodeHeaderText(row.in, row.keepUnderscores), row.out) << row.in;
  // Nothing decoded may break a line or end a text early.
  EXPECT_EQ(DecodeHeaderText("=?x?Q?a=0D=0Ab=00c?= d\re", false), "a  b c d e"sv);
  EXPECT_EQ(DecodeHeaderText("=?x?B?YQ1iCmMAZA==?=", false), "a b c d"sv);
}

TEST(GetHeaderParameter, QuotedPlainAndMissing) {
  const struct {
    std::string_view name;
    std::string_view line;
    std::string_view value;
  } rows[] = {
      {"name", "Content-Type: text/plain; name=\"My   File.txt\"; x=1", "My File.txt"},
      {"NAME=", "Content-Type: text/plain; Name=plain.txt ; x=1", "plain.txt"},
      {"filename", "Content-Disposition: attachment; filename=  \"a;b.txt\"", "a;b.txt"},
      {"name", "Content-Disposition: attachment; filename=\"only.txt\"", ""},  // not inside "filename"
      {"boundary", "Content-Type: multipart/mixed;boundary=\"--=_x\"", "--=_x"},
      {"boundary", "Content-Type: multipart/mixed; boundary=\"unclosed", "unclosed"},
      {"charset", "Content-Type: text/plain", ""},
      {"", "name=x", ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(GetHeaderParameter(row.name, row.line), row.value) << row.line;
}

TEST(ExtractEmailAddress, BracketsAndLineBreaks) {
  const struct {
    std::string_view in;
    std::string_view bracketed;
    std::string_view bare;
  } rows[] = {
      {"Anna Berg <anna@example.org>", "<anna@example.org>", "anna@example.org"},
      {"  anna@example.org  ", "<anna@example.org>", "anna@example.org"},
      {"\"a <b>\" < anna@example.org >", "<anna@example.org>", "anna@example.org"},
      {"x> y <anna@example.org", "<anna@example.org>", "anna@example.org"},  // no ">" after the last "<"
      {"anna@example.org>", "anna@example.org>", "anna@example.org"},
      {"anna@example.org (Anna)", "<anna@example.org (Anna)>", "anna@example.org (Anna)"},
      {"<a@b\r\nRCPT TO:<c@d>", "<c@d>", "c@d"},
      {"a@b\r\nDATA", "<a@bDATA>", "a@bDATA"},
      {"", "<>", ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ExtractEmailAddress(row.in, false), row.bracketed) << row.in;
    EXPECT_EQ(ExtractEmailAddress(row.in, true), row.bare) << row.in;
  }
  EXPECT_EQ(ExtractEmailAddress("<a@b\0c>"sv, true), "a@bc");
  EXPECT_EQ(ExtractDomainPart("Anna <anna@Example.org>"), "Example.org");
  EXPECT_EQ(ExtractDomainPart("a@b@c"), "b@c");
  EXPECT_EQ(ExtractDomainPart("example.org"), "");
}

}  // namespace
}  // namespace core
