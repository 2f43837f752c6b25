// The shared line reader and the header-block readers and writer.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "core/mime/MessageHeaders.h"

namespace core {
namespace {

using namespace std::literals;

struct Pair {
  std::string_view in;
  std::string_view out;
};

// Every line of the data joined by "|", read in chunks of the given size.
std::string Lines(std::string_view data, std::size_t chunk) {
  MemorySource source(data, chunk);
  LineReader reader(source);
  std::string all, line;
  while (reader.ReadLine(line))
    all += line + "|";
  return all;
}

TEST(LineReader, CrLfAndCrlfEndLinesOnAnyBlockEdge) {
  const struct {
    std::string_view data;
    std::string_view lines;
  } rows[] = {
      {"a\r\nb\nc\rd", "a|b|c|d|"},
      {"a\r\r\nb", "a||b|"},
      {"\n\n", "||"},
      {"\r\n\r\n", "||"},
      {"x", "x|"},
      {"", ""},
      {"a\r", "a|"},
      {"a\n\rb\r\n", "a||b|"},
  };
  for (const auto& row : rows)
    for (std::size_t chunk : {0, 1, 2, 3})
      EXPECT_EQ(Lines(row.data, chunk), row.lines) << row.data << " chunk " << chunk;
}

TEST(LineReader, LimitsPiecesAndHeaderBudget) {
  MemorySource source("abcdef\nxyz\r\nabcdefg\n");
  LineReader reader(source);
  std::string line, seen;
  for (int i = 0; i < 2 && reader.ReadLine(line, 3); ++i)
    seen += line + (reader.Cut() ? "~|" : "|");  // "~": cut at the limit
  while (reader.ReadPiece(line, 4))
    seen += line + (reader.LineEnded() ? "|" : "+");
  EXPECT_EQ(seen, "abc~|xyz|abcd+efg|");

  // 2,048 lines fit a header block, the 2,049th does not.
  std::string header;
  for (int i = 0; i < 2049; ++i)
    header += "X: 1\r\n";
  MemorySource many(header);
  LineReader manyReader(many);
  HeaderBudget budget;
  int taken = 0;
  while (manyReader.ReadHeaderLine(line, budget))
    ++taken;
  EXPECT_EQ(taken, 2048);
}

TEST(ReadHeaderValue, FirstMatchInTheHeaderBlock) {
  const std::string_view message =
      "From: a@b\r\nsubject:  Hello\r\n World\r\n\tagain\r\nSubject: second\r\nX-Empty:\r\n\r\nLate: body\r\n";
  const struct {
    std::string_view name;
    std::string_view value;
  } rows[] = {
      {"Subject: ", "Hello World\tagain"},  // unfolded as Python's email package does
      {"FROM:", "a@b"},
      {"X-Empty: ", ""},
      {"Late: ", ""},  // stands after the header block
      {"Missing: ", ""},
      {"", ""},
  };
  for (const auto& row : rows) {
    MemorySource source(message, 5);
    LineReader reader(source);
    EXPECT_EQ(ReadHeaderValue(reader, row.name), row.value) << row.name;
  }
  const std::string longLine = "Subject: " + std::string(300, 'x');
  MemorySource longValue(longLine);
  LineReader reader(longValue);
  EXPECT_EQ(ReadMessageHeader(reader, "Subject: ").size(), 255u);
}

TEST(ReplaceHeaderLines, ReplacesOrAddsInTheHeaderOnly) {
  const struct {
    std::string_view in;
    std::string_view name;
    std::string_view value;
    bool add;
    std::string_view out;
  } rows[] = {
      {"A: 1\nSubject: old\n folded\nB: 2\n\nSubject: body\n", "Subject: ", " new ", false,
       "A: 1\r\nSubject: new\r\nB: 2\r\n\r\nSubject: body\r\n"},
      {"A: 1\r\n\r\nSubject: body", "Subject: ", "new", true, "A: 1\r\nSubject: new\r\n\r\nSubject: body\r\n"},
      {"A: 1\r\n\r\nSubject: body", "Subject: ", "new", false, "A: 1\r\n\r\nSubject: body\r\n"},
      {"A: 1", "X-Flag: ", "yes", true, "A: 1\r\nX-Flag: yes\r\n"},  // all header: added at the end
      {"A: 1\r\n", "A: ", "one\r\nRCPT TO:<x@y>", false, "A: one  RCPT TO:<x@y>\r\n"},
      {"a: 1\r\na: 2\r\n", "A:", "3", false, "A:3\r\na: 2\r\n"},
  };
  for (const auto& row : rows) {
    MemorySource source(row.in, 3);
    LineReader reader(source);
    std::string out;
    StringSink sink(out);
    ASSERT_TRUE(ReplaceHeaderLines(reader, sink, row.name, row.value, row.add));
    EXPECT_EQ(out, row.out) << row.in;
  }
  MemorySource source("A: 1\r\n");
  LineReader reader(source);
  std::string out;
  StringSink sink(out);
  EXPECT_FALSE(ReplaceHeaderLines(reader, sink, "  ", "x", true));
}

// The record's fields joined by "|", then the line after the block.
std::string PartSummary(std::string_view text, std::optional<std::string_view> pending) {
  MemorySource source(text);
  LineReader reader(source);
  MimePartHeaders p;
  ParseMimePartHeaders(reader, p, pending);
  std::string next;
  reader.ReadLine(next);
  EXPECT_EQ(p.headerText.substr(0, 6), (pending ? *pending : text).substr(0, 6));
  return p.type + "/" + p.subtype + "|" + p.transferEncoding + "|" + p.charset + "|" + p.contentId + "|" + p.fileName +
         "|" + p.boundary + "|" + next;
}

TEST(ParseMimePartHeaders, FieldsContinuationsAndDisposition) {
  const struct {
    std::optional<std::string_view> pending;
    std::string_view text;
    std::string_view summary;
  } rows[] = {
      {std::nullopt,
       "Content-Type: Text/Plain;\r\n\tcharset=\"iso-8859-1\";\r\ncontent-transfer-encoding:  Quoted-Printable \r\n"
       "Content-ID: <id@x>\r\nContent-Disposition: attachment; filename=\"final.txt\"\r\n\r\nbody\r\n",
       "TEXT/PLAIN|Quoted-Printable|iso-8859-1|<id@x>|final.txt||body"},
      {std::nullopt, "Content-Type: text/plain;\r\n name=\"=?utf-8?q?r=C3=A9sum=C3=A9_1.txt?=\"\r\n\r\n",
       "TEXT/PLAIN||||r\303\251sum\303\251 1.txt||"},
      {"Content-Type: multipart/mixed; boundary=b1", "Content-Disposition: inline\r\n\r\n", "MULTIPART/MIXED|||||b1|"},
      {std::nullopt, "Content-Disposition: attachment;\r\n filename=\"=?utf-8?q?a_b.txt?=\"\r\nX: 1\r\n\r\n",
       "/ATTACHMENT||||a b.txt||"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(PartSummary(row.text, row.pending), row.summary) << row.text;
}

// Rows printed by tests/core/mime/oracle.py (get_filename()).
TEST(ParseMimePartHeaders, FileNamesAgainstPython) {
  const Pair rows[] = {
      {"Content-Disposition: attachment; filename*=utf-8''%C3%A9t%C3%A9.txt\r\n"sv, "\351t\351.txt"sv},
      {"Content-Disposition: attachment; filename*=UTF-8'en'a%20b%E4%B8%ADc.txt\r\n"sv, "a b?c.txt"sv},
      {"Content-Type: text/plain; name*=iso-8859-1''caf%E9.txt\r\n"sv, "caf\351.txt"sv},
      {"Content-Disposition: attachment;\r\n filename*1=\"second.txt\";\r\n filename*0=\"first-\"\r\n"sv,
       "first-second.txt"sv},
      {"Content-Type: application/pdf;\r\n name*0*=utf-8''%C3%A9;\r\n name*1=\"t\"; name*2*=%C3%A9.pdf\r\n"sv,
       "\351t\351.pdf"sv},
      {"Content-Disposition: attachment; filename=\"plain.txt\"; filename*=utf-8''other.txt\r\n"sv, "plain.txt"sv},
      {"Content-Disposition: attachment; filename=\"a very long\r\n name.txt\"\r\n"sv, "a very long name.txt"sv},
      {"Content-Disposition: attachment; filename*=''no%20charset.txt\r\n"sv, "no charset.txt"sv},
  };
  for (const auto& row : rows) {
    const std::string block = std::string(row.in) + "\r\n";
    MemorySource source(block, 7);
    LineReader reader(source);
    MimePartHeaders p;
    ParseMimePartHeaders(reader, p);
    EXPECT_EQ(p.fileName, row.out) << row.in;
  }
}

TEST(HeaderLimits, TenMegabytesWithoutALineBreakEndQuickly) {
  const std::string header = "Subject: " + std::string(10u << 20, 'x');
  const auto start = std::chrono::steady_clock::now();
  MemorySource source(header);
  LineReader reader(source);
  EXPECT_EQ(ReadHeaderValue(reader, "Subject: "), "");
  MemorySource again(header);
  LineReader partReader(again);
  MimePartHeaders part;
  ParseMimePartHeaders(partReader, part);
  EXPECT_TRUE(part.headerText.empty());
  // Thousands of name sections, numbered backwards.
  std::string sections = "Content-Disposition: attachment";
  for (int i = 2999; i >= 0; --i)
    sections += ";\r\n filename*" + std::to_string(i) + "=x";
  sections += "\r\n\r\n";
  MemorySource many(sections);
  LineReader manyReader(many);
  ParseMimePartHeaders(manyReader, part);
  EXPECT_EQ(part.fileName, std::string(255, 'x'));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

}  // namespace
}  // namespace core
