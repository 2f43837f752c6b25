#include "sender/net/SmtpConversation.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/fake_smtp_transport.h"

namespace {

using namespace sender;
using fake::ServerChunk;

const std::string Text = "Subject: t\r\n\r\nbody\r\n.\r\n";

SmtpConnection Envelope(const std::string& recipients, const std::string& text = Text) {
  return MakeSmtpConnection("Sender <s@x>", recipients, "", std::make_shared<const std::string>(text));
}

// The chunks of one reply each, then whatever follows.
std::vector<ServerChunk> Replies(const std::vector<std::string>& replies, std::vector<ServerChunk> tail = {}) {
  std::vector<ServerChunk> script;
  for (const auto& reply : replies)
    script.push_back({0, std::string(reply) + "\r\n"});
  script.insert(script.end(), tail.begin(), tail.end());
  return script;
}

const std::string Head = "HELO localhost\r\nMAIL From:<s@x>\r\n";
const std::string Delivered = Head + "RCPT To:<a@x>\r\nDATA\r\n" + Text + "QUIT\r\n";
const std::string LongLine = "250 " + std::string(1496, 'x');

TEST(SmtpConversation, ChunksAndTimeOuts) {
  // The refusals at each stage, multi-line replies and drops are checked
  // against the raw servers; here what needs the fake's clock and chunking.
  const struct {
    const char* name;
    std::string recipients;
    std::vector<ServerChunk> script;
    std::string written;
    bool sent;
    std::string lastReply;
  } cases[] = {
      {"delivered", "<a@x>",
       Replies({"220 hi", "250 hello", "250 sender", "250 rcpt", "354 go", "250 queued", "221 bye"}), Delivered, true,
       "221 bye"},
      {"three ended items", " <a@x>; <b@x> ;<c@x>;",
       Replies({"220 hi", "250 h", "250 s", "250 a", "251 b", "250 c", "354 go", "250 q", "221 b"}),
       Head + "RCPT To:<a@x>\r\nRCPT To:<b@x>\r\nRCPT To:<c@x>\r\nDATA\r\n" + Text + "QUIT\r\n", true, "221 b"},
      {"continuation lines", "<a@x>",
       Replies({"220-hi\r\n220 there", "250-h1\r\n250-h2\r\n250 h3", "250-s\r\n250 s", "250 r", "354 go",
                "250-q\r\n250 q", "221 b"}),
       Delivered, true, "221 b"},
      {"251 to MAIL", "<a@x>", Replies({"220 hi", "250 h", "251 s"}), Head, false, "251 s"},
      {"over-long reply to MAIL", "<a@x>",
       Replies({"220 hi", "250 h"}, {{0, LongLine.substr(0, 1200)},
                                     {0, LongLine.substr(1200) + "\r"},
                                     {0, "\n250 r\r\n354 go\r\n250 q\r\n221 b\r\n"}}),
       Delivered, true, "221 b"},
      {"over-long continuation", "<a@x>",
       Replies({"220 hi", "250 h", "250-" + std::string(1500, 'y') + "\r\n250 s"}, Replies({"250 r", "354 go"})),
       Head + "RCPT To:<a@x>\r\nDATA\r\n" + Text, false, ""},
      {"over-long refusal in one read", "<a@x>", Replies({"5" + LongLine}), "", false, "5" + LongLine.substr(0, 999)},
      {"over-long greeting without end", "<a@x>", {{0, LongLine}}, "", false, LongLine.substr(0, 1000)},
      {"greeting after 61 s", "<a@x>", {{61'000, "220 late\r\n"}}, "", false, ""},
      {"trickled past 60 s", "<a@x>", {{30'000, "22"}, {40'000, "0 hi\r\n"}}, "", false, "22"},
      {"data reply after 9 min", "<a@x>",
       Replies({"220 hi", "250 h", "250 s", "250 r", "354 go"}, {{540'000, "250 q\r\n"}, {0, "221 b\r\n"}}), Delivered,
       true, "221 b"},
      {"data reply after 11 min", "<a@x>",
       Replies({"220 hi", "250 h", "250 s", "250 r", "354 go"}, {{660'000, "250 q\r\n"}}),
       Head + "RCPT To:<a@x>\r\nDATA\r\n" + Text, false, ""},
  };
  for (const auto& c : cases) {
    fake::SmtpTransport transport(c.script);
    const SmtpOutcome outcome = RunSmtpConversation(Envelope(c.recipients), transport);
    EXPECT_EQ(transport.written, c.written) << c.name;
    EXPECT_EQ(outcome.sent, c.sent) << c.name;
    EXPECT_EQ(outcome.lastReply, c.lastReply) << c.name;
    EXPECT_TRUE(transport.closed) << c.name;
    EXPECT_EQ(transport.writesAfterClose, 0) << c.name;
  }
}

TEST(SmtpConversation, WritesTheTextInSlicesOfParts) {
  std::string text(200'000 - 5, 'm');
  text += "\r\n.\r\n";
  const auto script = Replies({"220 hi", "250 h", "250 s", "250 r", "354 go", "250 q", "221 b"});
  const std::size_t commands = Head.size() + std::string("RCPT To:<a@x>\r\nDATA\r\n").size();

  fake::SmtpTransport whole(script);
  EXPECT_TRUE(RunSmtpConversation(Envelope("<a@x>", text), whole).sent);
  // 4 command lines, 3 x 32 parts of 2,048, 2,048 and 1,344, then QUIT.
  ASSERT_EQ(whole.writeSizes.size(), 4u + 98u + 1u);
  const std::vector<std::int32_t> data(whole.writeSizes.begin() + 4, whole.writeSizes.end() - 1);
  std::vector<std::int32_t> expected(97, 2048);
  expected.push_back(1344);
  EXPECT_EQ(data, expected);
  EXPECT_EQ(whole.written.substr(commands, text.size()), text);

  // A transport that moves at most 1,000 bytes a call still gets every byte once.
  fake::SmtpTransport cut(script);
  cut.writeLimit = 1000;
  EXPECT_TRUE(RunSmtpConversation(Envelope("<a@x>", text), cut).sent);
  EXPECT_EQ(cut.written, whole.written);

  // A write that fails in the text ends without QUIT.
  fake::SmtpTransport failing(script);
  failing.failAfter = commands + 70'000;
  const SmtpOutcome broken = RunSmtpConversation(Envelope("<a@x>", text), failing);
  EXPECT_FALSE(broken.sent);
  EXPECT_EQ(broken.lastReply, "354 go");
  EXPECT_EQ(failing.written.size(), commands + 70'000);
  EXPECT_EQ(failing.writesAfterClose, 0);
}

TEST(SmtpConversation, ChecksTheEnvelope) {
  const std::string path256 = "<" + std::string(249, 'p') + "@x.yz>";
  ASSERT_EQ(path256.size(), 256u);
  const std::string path257 = "<" + std::string(250, 'p') + "@x.yz>";
  const struct {
    std::string sender, recipients, greeting, text;
    bool refused;
  } cases[] = {
      {"s@x", "<a@x>\r\nRSET", "", Text, true},
      {"s@x", "<a@x>;<b@x>\n", "", Text, true},
      {"s@x\r\nRSET", "<a@x>", "", Text, true},
      {"s@x", "<a@x>", std::string("he\0lo", 5), Text, true},
      {"s@x", "<a@x>;" + path257, "", Text, true},
      {path257, "<a@x>", "", Text, true},
      {"s@x", "<a@x>", "", "Subject: t\r\n\r\nbody\r\n", true},
      {"s@x", "<a@x>", "", "body\n.\n", true},
      {"s@x", "<a@x>", "", "", true},
      {"s@x", "<a@x>", "", "a\r\n.\r\nRSET\r\n.\r\n", true},
      {"s@x", "<a@x>", "", ".\r\nRSET\r\n.\r\n", true},
      {"s@x", "<a@x>", "", "a\r\n..\r\n.\r\n", false},
      {"s@x", "<a@x>", "", "a\r\n.\r\n", false},
      {"s@x", path256, "", Text, false},
      {"Name <" + path256.substr(1), "<a@x>", "", Text, false},
      {"s@x", "<a@x>", "", ".\r\n", false},
  };
  for (const auto& c : cases) {
    const auto make = [&] {
      return MakeSmtpConnection(c.sender, c.recipients, c.greeting, std::make_shared<const std::string>(c.text));
    };
    if (c.refused) {
      EXPECT_THROW(make(), std::invalid_argument) << c.sender << "|" << c.recipients << "|" << c.text;
    } else {
      EXPECT_NO_THROW(make()) << c.sender << "|" << c.recipients;
    }
  }

  const SmtpConnection made =
      MakeSmtpConnection("", "; <a@x> ;;<b@x>", std::string(130, 'g'), std::make_shared<const std::string>(Text));
  EXPECT_EQ(made.sender, "<>");
  EXPECT_EQ(made.recipients, (std::vector<std::string>{"<a@x>", "<b@x>"}));
  EXPECT_EQ(made.greeting, std::string(127, 'g'));
  EXPECT_EQ(MakeSmtpConnection("Name <" + path256.substr(1), "", "", made.message).sender, path256);
  EXPECT_EQ(MakeSmtpConnection("s@x", "", "", made.message).recipients, std::vector<std::string>{""});

  // The greeting name is sent as given, cut; the path of 256 whole.
  fake::SmtpTransport transport(Replies({"220 hi", "250 h", "250 s", "550 no"}));
  RunSmtpConversation(MakeSmtpConnection("s@x", path256, "mail.example", made.message), transport);
  EXPECT_EQ(transport.written, "HELO mail.example\r\nMAIL From:<s@x>\r\nRCPT To:" + path256 + "\r\n");
}

}  // namespace
