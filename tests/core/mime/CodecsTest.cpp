// Transfer coders against RFC 4648 and Python's binascii/quopri (rows from
// tests/core/mime/oracle.py).
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>

#include "core/mime/TransferCodecs.h"

namespace core {
namespace {

using namespace std::literals;

struct Pair {
  std::string_view in;
  std::string_view out;
};

TEST(Base64, Rfc4648VectorsBothWays) {
  const Pair rows[] = {{"", ""},
                       {"f", "Zg=="},
                       {"fo", "Zm8="},
                       {"foo", "Zm9v"},
                       {"foob", "Zm9vYg=="},
                       {"fooba", "Zm9vYmE="},
                       {"foobar", "Zm9vYmFy"}};
  for (const Pair& row : rows) {
    EXPECT_EQ(Base64EncodeChunk(row.in.data(), row.in.size()), row.out);
    EXPECT_EQ(DecodeMimeLine(TransferBase64, row.out), row.in);
    EXPECT_EQ(DecodeMimeLine(TransferMime, row.out), row.in);
  }
  EXPECT_EQ(Base64EncodeChunk("\0", 1), "AA==");
  const std::string bytes(60, 'x');
  EXPECT_EQ(Base64EncodeChunk(bytes.data(), 55).size(), 72u);  // cut to 54 bytes
}

TEST(Base64, StreamLinesAndSizes) {
  // 55 bytes: one line of 72 characters and one of 4, each with CRLF; the
  // source hands out odd chunks, the lines still hold 54 bytes each.
  const std::string data(55, 'a');
  MemorySource source(data, 7);
  std::string text;
  ASSERT_TRUE(Base64EncodeStream(source, nullptr, &text, 1));  // a wrong hint only costs a reallocation
  EXPECT_EQ(text, "YWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFhYWFh\r\nYQ==\r\n");
  std::string sunk;
  StringSink sink(sunk);
  MemorySource again(data);
  ASSERT_TRUE(Base64EncodeStream(again, &sink, nullptr, 0));
  EXPECT_EQ(sunk, text);

  EXPECT_EQ(Base64EncodedLength(0), 0u);
  EXPECT_EQ(Base64EncodedLength(55), 80u);
  EXPECT_EQ(Base64EncodedLength(1620), 2220u);
  EXPECT_FALSE(Base64EncodedLength(~0ull).has_value());
  // A size no text can hold fails instead of wrapping around.
  MemorySource empty("");
  text = "old";
  EXPECT_FALSE(Base64EncodeStream(empty, nullptr, &text, ~0ull / 2));
  EXPECT_TRUE(text.empty());
}

TEST(DecodeMimeLine, Base64AgainstBinascii) {
  const Pair rows[] = {
      {"TWFu"sv, "Man"sv},          {"TW Fu"sv, "Man"sv},  {"!@#TW\tFu"sv, "Man"sv},
      {"TWE="sv, "Ma"sv},           {"TQ==TWFu"sv, "M"sv}, {"SGVsbG8sIHdvcmxkIQ=="sv, "Hello, world!"sv},
      {"/+/+"sv, "\377\357\376"sv},
  };
  for (const Pair& row : rows)
    EXPECT_EQ(DecodeMimeLine(TransferBase64, row.in), row.out) << row.in;
  // Only complete bytes: no half-filled byte after the pad or the end.
  EXPECT_EQ(DecodeMimeLine(TransferBase64, "TWE= "), "Ma");
  EXPECT_EQ(DecodeMimeLine(TransferBase64, "TWFuTQ"), "ManM");
  EXPECT_EQ(DecodeMimeLine(TransferBase64, "T"), "");
}

TEST(DecodeMimeLine, QuotedPrintableAgainstBinascii) {
  const Pair rows[] = {
      {"caf=E9 cr=E8me"sv, "caf\351 cr\350me\r\n"sv},
      {"a=3Db"sv, "a=b\r\n"sv},
      {"=3D41"sv, "=41\r\n"sv},
      {"=3=41"sv, "=3A\r\n"sv},
      {"soft="sv, "soft"sv},
      {"lower =e9t=e9"sv, "lower \351t\351\r\n"sv},
      {"trailing ="sv, "trailing "sv},
      {"="sv, ""sv},
      {"x=4"sv, "x=4\r\n"sv},
      {"x=zz"sv, "x=zz\r\n"sv},
  };
  for (const Pair& row : rows)
    EXPECT_EQ(DecodeMimeLine(TransferQuotedPrintable, row.in), row.out) << row.in;
  const Pair texts[] = {
      {"A=3D=3D=3DB"sv, "A===B"sv},
      {"tab=09end"sv, "tab\tend"sv},
      {"=0D=0A"sv, "\r\n"sv},
      {"=41=4"sv, "A=4"sv},
      {"=4"sv, "=4"sv},
  };
  for (const Pair& row : texts)
    EXPECT_EQ(DecodeQuotedPrintable(row.in), row.out) << row.in;
}

TEST(DecodeMimeLine, UuencodeAgainstBinascii) {
  const Pair rows[] = {
      {" "sv, ""sv},
      {"!80  "sv, "a"sv},
      {"\"86(`"sv, "ab"sv},
      {"#86)C"sv, "abc"sv},
      {"$    _P  "sv, "\000\000\000\377"sv},
      {"M``$\"`P0%!@<(\"0H+#`T.#Q`1$A,4%187&!D:&QP='A\\@(2(C)\"4F)R@I*BLL"sv,
       "\000\001\002\003\004\005\006\007\010\t\n\013\014\r\016\017\020\021\022\023\024\025\026\027\030\031\032\033\034"
       "\035\036\037 !\"#$%&'()*+,"sv},
      {"#0V%T"sv, "Cat"sv},
  };
  for (const Pair& row : rows)
    EXPECT_EQ(DecodeMimeLine(TransferUuencode, row.in), row.out) << row.in;
  EXPECT_EQ(DecodeMimeLine(TransferUuencode, "a86)C"), "");  // no length character
  EXPECT_EQ(DecodeMimeLine(TransferUuencode, "#86"), "a`");  // trailing blanks lost in transit
  EXPECT_EQ(DecodeMimeLine(TransferPlain, "as =41 is"), "as =41 is");
  EXPECT_EQ(DecodeMimeLine(5, "TWFu"), "");
  EXPECT_EQ(DecodeMimeLine(-1, "TWFu"), "");
}

TEST(TransferCodecs, KindsLatin1AndBeginLines) {
  const std::pair<const char*, int> kinds[] = {{"BASE64", 0}, {"x-uuencode", 1}, {"uuencode", 1},
                                               {"Mime", 2},   {"8bit", 3},       {"Quoted-Printable", 4}};
  for (const auto& [name, kind] : kinds)
    EXPECT_EQ(TransferKindOf(name), kind) << name;
  EXPECT_EQ(Latin1ToUtf8("A\177\200\240\304\351\377"sv), "A\177\302\200\302\240\303\204\303\251\303\277"sv);
  // Found names; "-" for a line that is no begin line.
  const Pair lines[] = {{"begin 644 report.pdf", "report.pdf"},
                        {"BEGIN 755 my file.txt", "my"},
                        {"begin 600 a", "a"},
                        {"begin 648 name.txt", "-"},
                        {"begin 0644 name.txt", "-"},
                        {"begin  644 name.txt", "-"},
                        {"begin 644       ", "-"},
                        {"beginning 644 x.txt", "-"}};
  for (const Pair& row : lines)
    EXPECT_EQ(ParseUUBeginLine(row.in).value_or("-"), row.out) << row.in;
}

}  // namespace
}  // namespace core
