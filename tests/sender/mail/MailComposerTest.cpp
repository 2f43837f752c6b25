// The message a Mailer composes, on the host: the address rules, whole
// messages written out by hand, hostile header values, long lines, the
// boundary, unreadable files, and the header encoder against Python's
// email.header. (Dots, line ends and long lists are read back by Python's
// email parser in tests/sender/com/mailer_oracle_test.py.)
#include "sender/mail/MailComposer.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sender/mail/MailDraft.h"
#include "tests/support/oracle.h"

namespace {

using sender::AddressKind;
using sender::MailDraft;

// Files by part index; a missing entry cannot be opened, "FAIL" fails while read.
class Parts final : public sender::PartReader {
 public:
  std::map<std::size_t, std::string> files;

  std::unique_ptr<core::ByteSource> Open(std::size_t index) override {
    const auto found = files.find(index);
    if (found == files.end()) return nullptr;
    if (found->second == "FAIL") return std::make_unique<Failing>();
    return std::make_unique<core::MemorySource>(found->second, 1000);
  }

 private:
  class Failing final : public core::ByteSource {
   public:
    std::size_t Read(char* buffer, std::size_t size) override {
      if (done_ || size == 0) return 0;
      done_ = true;
      buffer[0] = 'x';
      return 1;
    }
    bool Failed() const override { return done_; }

   private:
    bool done_ = false;
  };
};

// Answers 1, 2, 3, ... so a boundary reads "--=12", then "--=34".
sender::RandomSource Counting() {
  auto next = std::make_shared<std::uint32_t>(0);
  return [next] { return ++*next; };
}

const core::CivilTime Sunday{2003, 1, 5, 9, 4, 7};

std::optional<std::string> Compose(const MailDraft& draft, Parts& parts, std::string_view zone = "+0100") {
  std::string out = "stale";
  if (!sender::ComposeMail(draft, Sunday, zone, Counting(), parts, out)) {
    EXPECT_EQ(out, "");
    return std::nullopt;
  }
  return out;
}

std::string Compose(const MailDraft& draft) {
  Parts none;
  return Compose(draft, none).value_or("refused");
}

// The header block's logical lines, continuation lines joined as they stand.
std::vector<std::string> Headers(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos || end == at) break;
    const std::string line = text.substr(at, end - at);
    if ((line[0] == ' ' || line[0] == '\t') && !lines.empty()) {
      lines.back() += line;
    } else {
      lines.push_back(line);
    }
    at = end + 2;
  }
  return lines;
}

std::vector<std::string> Names(const std::vector<std::string>& headers) {
  std::vector<std::string> names;
  for (const std::string& line : headers)
    names.push_back(line.substr(0, line.find(':')));
  return names;
}

// Every line ends with CRLF, and the only "." line is the end mark.
void ExpectSafeData(const std::string& text, const std::string& what) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool paired = text[i] == '\r'   ? i + 1 < text.size() && text[i + 1] == '\n'
                        : text[i] == '\n' ? i > 0 && text[i - 1] == '\r'
                                          : true;
    ASSERT_TRUE(paired) << what << " at " << i;
  }
  EXPECT_EQ(text.find("\r\n.\r\n"), text.size() - 5) << what;
}

MailDraft Basic() {
  MailDraft draft;
  draft.fromName = "Ann";
  draft.fromAddress = "a@x.org";
  draft.subject = "Hi";
  sender::AddAddress(draft, AddressKind::To, "b@x.org", "Bob");
  sender::AddAddress(draft, AddressKind::To, "c@x.org", "");
  draft.bodyText = ".first\nline";
  return draft;
}

TEST(MailDraft, AddressRules) {
  const struct {
    AddressKind kind;
    std::string email, name, recipients, entry;  // entry: "" when no list changes
  } rows[] = {
      {AddressKind::To, "b@x.org", "Bob", "<b@x.org>;", "Bob <b@x.org>"},
      {AddressKind::To, "Bob", "b@x.org", "<b@x.org>;", "Bob <b@x.org>"},  // swapped
      {AddressKind::To, "", "b@x.org", "<b@x.org>;", "<b@x.org>"},
      {AddressKind::To, "Bob <b@x.org>", "", "<b@x.org>;", "<b@x.org>"},
      {AddressKind::To, " b@x.org (desk) ", "", "<b@x.org (desk)>;", "<b@x.org (desk)>"},
      {AddressKind::To, "b@x.org>", "", "b@x.org>;", "b@x.org>"},
      {AddressKind::To, "b@x\r\nRSET", "", "<b@x\r\nRSET>;", "<b@x\r\nRSET>"},  // the envelope refuses it
      {AddressKind::Cc, "c@x.org", "Cy", "<c@x.org>;", "Cy <c@x.org>"},
      {AddressKind::Bcc, "d@x.org", "Di", "<d@x.org>;", ""},
      {AddressKind::ReplyTo, "r@x.org", "Re", "", "Re <r@x.org>"},
  };
  for (const auto& row : rows) {
    MailDraft draft;
    sender::AddAddress(draft, row.kind, row.email, row.name);
    EXPECT_EQ(draft.recipients, row.recipients) << row.email;
    std::vector<std::string> all;
    for (const auto* list : {&draft.toList, &draft.ccList, &draft.replyToList})
      all.insert(all.end(), list->begin(), list->end());
    EXPECT_EQ(all, row.entry.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.entry}) << row.email;
    const auto& expected = row.kind == AddressKind::Cc        ? draft.ccList
                           : row.kind == AddressKind::ReplyTo ? draft.replyToList
                                                              : draft.toList;
    EXPECT_EQ(expected.size(), row.entry.empty() ? 0u : 1u) << row.email;
  }
  MailDraft draft;
  sender::AddCustomHeader(draft, "  X-A: 1 \r\n");
  sender::AddCustomHeader(draft, " \t ");
  EXPECT_EQ(draft.customHeaders, std::vector<std::string>{"X-A: 1"});
}

TEST(MailComposer, WholeMessages) {
  EXPECT_EQ(Compose(Basic()),
            "Date: Sun, 05 Jan 2003 09:04:07 +0100\r\n"
            "MIME-Version: 1.0\r\n"
            "Subject: Hi\r\n"
            "From: Ann <a@x.org>\r\n"
            "To: Bob <b@x.org>, <c@x.org>\r\n"
            "Content-Type: text/plain\r\n"
            "\r\n"
            "..first\r\n"
            "line\r\n"
            "\r\n"
            ".\r\n");

  MailDraft draft;
  draft.fromAddress = "a@x.org";
  draft.subject = "S";
  draft.isHtml = true;
  draft.charset = "utf-8";
  draft.contentTransferEncoding = "8bit";
  draft.bodyText = "<p>hi</p>";
  sender::AddAddress(draft, AddressKind::Cc, "c@x.org", "");
  sender::AddAddress(draft, AddressKind::Bcc, "d@x.org", "");
  sender::AddAddress(draft, AddressKind::ReplyTo, "r@x.org", "R");
  sender::AddCustomHeader(draft, "X-Tag: one");
  draft.parts = {{"C:\\docs\\a b.txt", ""}, {"img/logo.png", "<logo@x>"}};
  Parts parts;
  parts.files = {{0, "abc"}, {1, std::string(55, 'x')}};
  std::string x72;
  for (int i = 0; i < 18; ++i)
    x72 += "eHh4";
  EXPECT_EQ(Compose(draft, parts, "-0000"),
            "Date: Sun, 05 Jan 2003 09:04:07 -0000\r\n"
            "MIME-Version: 1.0\r\n"
            "Subject: S\r\n"
            "From: <a@x.org>\r\n"
            "Cc: <c@x.org>\r\n"
            "Reply-To: R <r@x.org>\r\n"
            "Content-Type: multipart/mixed; boundary=\"--=12\"\r\n"
            "X-Tag: one\r\n"
            "\r\n"
            "----=12\r\n"
            "Content-Type: text/html; charset=\"utf-8\"\r\n"
            "Content-Transfer-Encoding: 8bit\r\n"
            "\r\n"
            "<p>hi</p>\r\n"
            "\r\n"
            "----=12\r\n"
            "Content-Type: application/octet-stream; name=\"a b.txt\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "\r\n"
            "YWJj\r\n"
            "\r\n"
            "----=12\r\n"
            "Content-Type: application/octet-stream; name=\"logo.png\"\r\n"
            "Content-Transfer-Encoding: base64\r\n"
            "Content-ID: <logo@x>\r\n"
            "\r\n" +
                x72 +
                "\r\n"
                "eA==\r\n"
                "\r\n"
                "----=12--\r\n"
                ".\r\n");

  // An empty FromAddress, and an empty part.
  draft = MailDraft{};
  draft.fromName = "Nobody";
  draft.parts = {{"empty.bin", ""}};
  parts.files = {{0, ""}};
  const std::string text = Compose(draft, parts).value_or("");
  EXPECT_NE(text.find("\r\nFrom: Nobody <>\r\n"), std::string::npos);
  EXPECT_NE(text.find("base64\r\n\r\n\r\n----=12--\r\n.\r\n"), std::string::npos);
}

TEST(MailComposer, HeaderValuesCarryNoLineBreak) {
  using namespace std::string_literals;
  const std::string evil = "x\r\nBcc: v@x.org\r\n\r\nbody\n\0y"s;
  const struct {
    const char* what;
    std::function<void(MailDraft&)> set;
    const char* extra = nullptr;  // the header the value adds to the top block, if any
  } rows[] = {
      {"subject", [&](MailDraft& d) { d.subject = evil; }},
      {"from name", [&](MailDraft& d) { d.fromName = evil; }},
      {"from address", [&](MailDraft& d) { d.fromAddress = evil; }},
      {"list entry", [&](MailDraft& d) { sender::AddAddress(d, AddressKind::To, "e@x.org", evil); }},
      {"charset", [&](MailDraft& d) { d.charset = evil; }},
      {"transfer encoding", [&](MailDraft& d) { d.contentTransferEncoding = evil; }, "Content-Transfer-Encoding"},
      {"custom header", [&](MailDraft& d) { sender::AddCustomHeader(d, "X-A: " + evil); }, "X-A"},
      {"part name",
       [&](MailDraft& d) {
         d.parts = {{evil, ""}};
       }},
      {"content id",
       [&](MailDraft& d) {
         d.parts = {{"f", evil}};
       }},
  };
  for (const auto& row : rows) {
    MailDraft draft = Basic();
    row.set(draft);
    Parts parts;
    parts.files = {{0, "data"}};
    const std::string text = Compose(draft, parts).value_or("");
    ExpectSafeData(text, row.what);
    std::vector<std::string> names = {"Date", "MIME-Version", "Subject", "From", "To", "Content-Type"};
    if (row.extra != nullptr) names.push_back(row.extra);
    EXPECT_EQ(Names(Headers(text)), names) << row.what;
    if (!draft.parts.empty()) {
      // The part's own header block.
      const std::size_t part = text.find("----=12\r\nContent-Type: application");
      ASSERT_NE(part, std::string::npos) << row.what;
      EXPECT_EQ(Names(Headers(text.substr(part + 9))).size(), draft.parts[0].contentId.empty() ? 2u : 3u) << row.what;
    }
  }
}

TEST(MailComposer, LongLines) {
  // An unbreakable run stays whole; a breakable line never passes 998.
  MailDraft draft = Basic();
  sender::AddCustomHeader(draft, "X-Long: " + std::string(1200, 'u'));
  sender::AddCustomHeader(draft, "X-Late: a " + std::string(990, 'v') + " b " + std::string(10, 'w'));
  const std::string text = Compose(draft);
  EXPECT_NE(text.find("\r\nX-Long: " + std::string(1200, 'u') + "\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nX-Late: a\r\n " + std::string(990, 'v') + "\r\n b " + std::string(10, 'w') + "\r\n"),
            std::string::npos);

  // 998 octets is no reason to encode.
  draft = Basic();
  draft.bodyText = std::string(998, 'k');
  EXPECT_EQ(Compose(draft).find("quoted-printable"), std::string::npos);
}

TEST(MailComposer, BoundaryPartsAndUnreadableFiles) {
  MailDraft draft = Basic();
  draft.bodyText = "quoting ----=12 here";
  draft.parts = {{"dir/say \"hi\" x.bin", "id@x"}, {"C:\\a\\b\\it's.txt", ""}};
  Parts parts;
  parts.files = {{0, std::string(100, '\xff')}, {1, ".\n"}};
  const std::string text = Compose(draft, parts).value_or("");
  ExpectSafeData(text, "parts");
  EXPECT_NE(text.find("boundary=\"--=34\""), std::string::npos);
  EXPECT_NE(text.find("name=\"say \\\"hi\\\" x.bin\""), std::string::npos);
  EXPECT_NE(text.find("name=\"it's.txt\""), std::string::npos);
  EXPECT_NE(text.find("\r\nContent-ID: id@x\r\n"), std::string::npos);

  for (const std::string broken : {"missing", "FAIL"}) {
    Parts some;
    some.files = {{0, "fine"}};
    if (broken == "FAIL") some.files[1] = "FAIL";
    EXPECT_EQ(Compose(draft, some), std::nullopt) << broken;
  }
}

TEST(MailComposer, EncodeHeaderAndQuotedPrintable) {
  const auto lead = [](unsigned char byte) { return byte >= 0x81 && byte <= 0x9F; };
  const struct {
    std::string text, charset, encoded;
    bool dbcs = false;
  } rows[] = {
      {"", "",
       "=?us-ascii?Q?"
       "?="},
      {"a=b", "", "=?us-ascii?Q?a=3db?="},
      {"a b_c?\t", "iso-8859-1", "=?iso-8859-1?Q?a_b=5fc=3f=09?="},
      {"\xe9\x7f~", " iso-8859-1 ", "=?iso-8859-1?Q?=e9=7f~?="},
      {"x", "a b?=c", "=?abc?Q?x?="},
      // 60 characters fit one word of 75 beside "=?us-ascii?Q?" and "?=".
      {std::string(60, 'x'), "", "=?us-ascii?Q?" + std::string(60, 'x') + "?="},
      {std::string(61, 'x'), "", "=?us-ascii?Q?" + std::string(60, 'x') + "?= =?us-ascii?Q?x?="},
      // A three-byte UTF-8 character (9 encoded) is never split.
      {std::string(55, 'y') + "\xe2\x82\xac", "UTF-8",
       "=?UTF-8?Q?" + std::string(55, 'y') + "?= =?UTF-8?Q?=e2=82=ac?="},
      // A double-byte character of the code page neither.
      {std::string(56, 'z') + "\x82\xa0", "shift_jis",
       "=?shift_jis?Q?" + std::string(56, 'z') + "?= =?shift_jis?Q?=82=a0?=", true},
      {std::string(56, 'z') + "\x82\xa0", "shift_jis",
       "=?shift_jis?Q?" + std::string(56, 'z') + "=82?= =?shift_jis?Q?=a0?="},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(sender::EncodeHeader(row.text, row.charset, row.dbcs ? +lead : nullptr), row.encoded) << row.text;
  }

  EXPECT_EQ(sender::QuotedPrintable("a=b\ttab \nlast \t"), "a=3Db\ttab=20\r\nlast =09");
  EXPECT_EQ(sender::QuotedPrintable(std::string(80, 'q') + "\r"),
            std::string(75, 'q') + "=\r\n" + std::string(5, 'q') + "\r\n");
  EXPECT_EQ(sender::QuotedPrintable(std::string(74, 'q') + "\xe9\xe9"), std::string(74, 'q') + "=\r\n=E9=E9");
}

// Python's email.header reads every text back; words stay within 75
// characters and hold no blank.
TEST(MailComposer, EncodeHeaderAgainstPython) {
  std::mt19937 random(2047);
  std::vector<std::string> texts, lines;
  for (const char* charset : {"iso-8859-1", "utf-8"}) {
    for (int i = 0; i < 1000; ++i) {
      std::string text;
      const std::size_t length = random() % 160;
      while (text.size() < length) {
        if (std::string_view(charset) == "iso-8859-1") {
          text.push_back(static_cast<char>(random() % 256));
          continue;
        }
        // A code point of one to four bytes.
        const std::uint32_t ranges[] = {0x80, 0x800, 0x10000, 0x110000};
        std::uint32_t c = random() % ranges[random() % 4];
        if (c >= 0xD800 && c < 0xE000) c = 'x';
        if (c < 0x80) {
          text += static_cast<char>(c);
        } else if (c < 0x800) {
          text += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 63))};
        } else if (c < 0x10000) {
          text += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 63)),
                   static_cast<char>(0x80 | (c & 63))};
        } else {
          text += {static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 63)),
                   static_cast<char>(0x80 | ((c >> 6) & 63)), static_cast<char>(0x80 | (c & 63))};
        }
      }
      const std::string encoded = sender::EncodeHeader(text, charset);
      std::size_t wordStart = 0;
      for (std::size_t at = 0; at <= encoded.size(); ++at) {
        if (at < encoded.size() && encoded[at] != ' ') continue;
        const std::string word = encoded.substr(wordStart, at - wordStart);
        EXPECT_LE(word.size(), 75u) << word;
        EXPECT_TRUE(word.starts_with("=?") && word.ends_with("?=")) << word;
        wordStart = at + 1;
      }
      texts.push_back(text);
      lines.push_back(testing_support::Hex(reinterpret_cast<const unsigned char*>(text.data()), text.size()) + "\t" +
                      encoded);
    }
  }
  const std::vector<std::string> decoded =
      testing_support::RunPythonOracle("tests/sender/mail/mail_oracle.py", "decode", lines);
  ASSERT_EQ(decoded.size(), texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(decoded[i],
              testing_support::Hex(reinterpret_cast<const unsigned char*>(texts[i].data()), texts[i].size()))
        << lines[i];
  }
}

}  // namespace
