// The multipart walk: the committed corpus (written by corpus/make_corpus.py
// with Python's email package), paging, nesting limits.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "core/mime/MessageBody.h"

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
                 std::int32_t* index = nullptr, bool* more = nullptr) {
  MemorySource source(message, 61);
  LineReader reader(source);
  std::int32_t start = 0;
  std::string out;
  const bool stopped = ReadMessageBody(reader, out, max, wanted, index != nullptr ? *index : start);
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
  };
  for (const auto& row : rows) {
    bool more = true;
    EXPECT_EQ(Body(ReadCorpus(row.name), row.wanted, 0, nullptr, &more), ReadCorpus(row.expected)) << row.name;
    EXPECT_FALSE(more);
  }
  EXPECT_EQ(Body(ReadCorpus("mixed_alternative.eml"), "application/pdf"), "");  // a named part is an attachment
}

TEST(ReadMessageBody, PagesJoinToTheWholeText) {
  const std::string message = ReadCorpus("mixed_alternative.eml");
  const std::string whole = Body(message);
  std::string paged;
  std::int32_t index = 0;
  bool more = true;
  int pages = 0;
  while (more && pages < 100) {
    const std::string page = Body(message, "", 20, &index, &more);
    EXPECT_TRUE(!more || page.size() >= 20);
    paged += page;
    ++pages;
  }
  EXPECT_EQ(paged, whole);
  EXPECT_EQ(index, 8);  // one per line returned
  EXPECT_GT(pages, 3);
}

TEST(ReadMessageBody, UntypedAndPlainParts) {
  EXPECT_EQ(Body("Subject: x\r\n\r\nline 1\r\n..dot\r\n"), "line 1\r\n.dot\r\n");
  EXPECT_EQ(Body("Content-Type: text/html\r\n\r\n<p>\r\n"), "");
  EXPECT_EQ(Body("Content-Type: text/plain; name=a.txt\r\n\r\nattached\r\n"), "");
  EXPECT_EQ(Body("Content-Transfer-Encoding: base64\r\n\r\nTWFu\r\nIQ==\r\n"), "Man!");
  EXPECT_EQ(Body("\r\nbegin\r\n.\r\nnever\r\n"), "begin\r\n");
  EXPECT_EQ(Body("Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\nin\r\n--b-- \t\r\nepilogue\r\n"),
            "in\r\n");
  // An empty boundary parameter never opens a part.
  EXPECT_EQ(Body("Content-Type: multipart/mixed; boundary=\"\"\r\n\r\n--\r\ntext\r\n"), "");
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
