// The multipart walk: the committed corpus (written by corpus/make_corpus.py
// with Python's email package), paging, nesting limits.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/mime/MessageBody.h"
#include "core/mime/TransferCodecs.h"

namespace core {
namespace {

using namespace std::literals;

std::string ReadCorpus(const std::string& name) {
  const char* root = std::getenv("VM_SOURCE_DIR");
  std::ifstream file(std::string(root != nullptr ? root : ".") + "/tests/core/mime/corpus/" + name, std::ios::binary);
  EXPECT_TRUE(file.good()) << name;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// One call over the message; more tells whether it stopped early.
std::string Body(std::string_view message, std::string_view wanted = "", std::size_t max = 0,
                 std::int32_t* index = nullptr, bool* more = nullptr, MessageForm form = MessageForm::Stuffed) {
  MemorySource source(message, 61);
  LineReader reader(source);
  std::int32_t start = 0;
  std::string out;
  const bool stopped = ReadMessageBody(reader, out, max, wanted, index != nullptr ? *index : start, form);
  if (more != nullptr) *more = stopped;
  return out;
}

TEST(ReadMessageBody, CorpusAgainstPythonsDecoding) {
  const struct {
    const char* name;
    const char* wanted;
    const char* expected;
  } rows[] = {
      {"mixed_alternative.eml", "", "mixed_alternative.expected"},
      {"mixed_alternative.eml", "TEXT/html", "mixed_alternative.html.expected"},
      {"forwarded.eml", "", "forwarded.expected"},
      {"forwarded.eml", "text/html", "forwarded.html.expected"},
      {"single_base64.eml", "", "single_base64.expected"},
      {"dot_stuffed.eml", "", "dot_stuffed.expected"},
      {"wrapped.eml", "", "wrapped.expected"},  // base64 at widths 60-76, long lines, RFC 2231 names
  };
  for (const auto& row : rows) {
    bool more = true;
    EXPECT_EQ(Body(ReadCorpus(row.name), row.wanted, 0, nullptr, &more), ReadCorpus(row.expected)) << row.name;
    EXPECT_FALSE(more);
  }
  EXPECT_EQ(Body(ReadCorpus("mixed_alternative.eml"), "application/pdf"), "");  // a named part is an attachment
}

TEST(ReadMessageBody, PagesJoinToTheWholeText) {
  const struct {
    const char* name;
    std::int32_t lines;
  } rows[] = {{"mixed_alternative.eml", 8}, {"wrapped.eml", 77}};  // base64 groups split across pages
  for (const auto& row : rows) {
    const std::string message = ReadCorpus(row.name);
    const std::string whole = Body(message);
    std::string paged;
    std::int32_t index = 0;
    bool more = true;
    int pages = 0;
    while (more && pages < 1000) {
      const std::string page = Body(message, "", 20, &index, &more);
      EXPECT_TRUE(!more || page.size() >= 20);
      paged += page;
      ++pages;
    }
    EXPECT_EQ(paged, whole) << row.name;
    EXPECT_EQ(index, row.lines) << row.name;  // one per line returned
    EXPECT_GT(pages, 3);
  }
}

TEST(ReadMessageBody, UntypedAndPlainParts) {
  EXPECT_EQ(Body("Subject: x\r\n\r\nline 1\r\n..dot\r\n"), "line 1\r\n.dot\r\n");
  EXPECT_EQ(Body("Content-Type: text/html\r\n\r\n<p>\r\n"), "");
  EXPECT_EQ(Body("Content-Type: text/plain; name=a.txt\r\n\r\nattached\r\n"), "");
  EXPECT_EQ(Body("Content-Transfer-Encoding: base64\r\n\r\nTWFu\r\nIQ==\r\n"), "Man!");
  EXPECT_EQ(Body("\r\nbegin\r\n.\r\nnever\r\n"), "begin\r\n");
  EXPECT_EQ(Body("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nin\r\n--b-- \t\r\nepilogue\r\n"),
            "in\r\n");
  // "--bx--" is no closing delimiter of "b": it opens a part.
  EXPECT_EQ(Body("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nin\r\n--bx--\r\n\r\nafter\r\n--b--\r\n"),
            "in\r\nafter\r\n");
  // An empty boundary parameter never opens a part.
  EXPECT_EQ(Body("Content-Type: multipart/mixed; boundary=\"\"\r\n\r\n--\r\ntext\r\n"), "");
}

TEST(ReadMessageBody, StoredFormsKeepTheirDots) {
  const std::string_view text = "Subject: x\r\n\r\n..two\r\n.\r\nafter\r\n";
  const std::string header =
      "0000000000000000"
      "5A2B3C4D"
      "\r\n";
  EXPECT_EQ(Body(text), ".two\r\n");
  EXPECT_EQ(Body(text, "", 0, nullptr, nullptr, MessageForm::Stored), "..two\r\n.\r\nafter\r\n");
  EXPECT_EQ(Body(header + std::string(text), "", 0, nullptr, nullptr, MessageForm::StoredFile),
            "..two\r\n.\r\nafter\r\n");
  // Without the header skipped, its line is taken for a header line.
  EXPECT_EQ(Body(header + "\r\nbody\r\n", "", 0, nullptr, nullptr, MessageForm::StoredFile), "body\r\n");
}

// The four-at-a-time decoder against the one-at-a-time one: every length
// 0-300 of text mixing the alphabet with skipped characters and pads, each
// split into lines at every remainder, and every line of the corpus.
TEST(Base64Decoder, GroupedEqualsOneByOne) {
  const auto same = [](const std::vector<std::string_view>& lines) {
    Base64Decoder fast, slow;
    std::string a, b;
    for (std::string_view line : lines) {
      fast.Line(line, a);
      slow.LineOneByOne(line, b);
    }
    return a == b;
  };
  std::string text;
  unsigned seed = 7;
  const std::string_view odd = "AZaz09+/=\r\n -.*\x80\xff";
  for (std::size_t length = 0; length <= 300; ++length) {
    for (int split = 0; split < 4; ++split) {
      const std::string_view view(text);
      const std::size_t cut = std::min(view.size(), static_cast<std::size_t>(length / 4 * 2 + split));
      EXPECT_TRUE(same({view.substr(0, cut), view.substr(cut)})) << length << " " << split;
    }
    seed = seed * 1103515245u + 12345u;
    const unsigned pick = (seed >> 16) % 100;
    text.push_back(pick < 90 ? "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[pick % 64]
                             : odd[pick % odd.size()]);
  }
  for (const char* name : {"mixed_alternative.eml", "forwarded.eml", "single_base64.eml", "wrapped.eml"}) {
    const std::string message = ReadCorpus(name);
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < message.size();) {
      const std::size_t end = std::min(message.find("\r\n", at), message.size());
      lines.push_back(std::string_view(message).substr(at, end - at));
      at = end + 2;
    }
    EXPECT_TRUE(same(lines)) << name;
  }
}

TEST(ReadMessageBody, HugeLinesDecodeWholeAndQuickly) {
  const auto start = std::chrono::steady_clock::now();
  std::string base64;
  const std::string_view group = "QUJD";  // "ABC"
  for (int i = 0; i < 2'000'000; ++i)
    base64.append(group);
  const std::string message = "Content-Transfer-Encoding: base64\r\n\r\n" + base64 + "\r\n";
  const std::string text = Body(message);
  EXPECT_EQ(text.size(), 6'000'000u);
  EXPECT_EQ(text.substr(text.size() - 3), "ABC");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

// count levels of multipart nesting, a text part at the deepest one.
std::string Nested(int count) {
  std::string message;
  for (int i = 0; i < count; ++i)
    message += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\r\n\r\n--b" + std::to_string(i) +
               "\r\n";
  return message + "Content-Type: text/plain\r\n\r\ndeep\r\n";
}

TEST(ReadMessageBody, NestingIsCapped) {
  EXPECT_EQ(Body(Nested(64)), "deep\r\n");
  EXPECT_EQ(Body(Nested(65)), "");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Body(Nested(200000)), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

}  // namespace
}  // namespace core
