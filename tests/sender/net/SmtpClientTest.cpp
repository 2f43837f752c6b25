#include "sender/net/SmtpClientThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sender/net/WinSocket.h"
#include "tests/sender/net/PeerPorts.h"
#include "tests/sender/net/PeerReport.h"

namespace {

using namespace sender;
using sender_tests::Ask;
using sender_tests::Deliveries;
using sender_tests::MillisecondsSince;
using sender_tests::PeerPort;

const std::string Text = "Subject: t\r\n\r\n..dot\r\nbody\r\n.\r\n";

std::unique_ptr<SmtpClientThread> Start(std::uint16_t port, const std::string& recipients = "<a@x>",
                                        const std::string& text = Text, const std::string& sender = "<s@x>",
                                        const std::string& address = "127.0.0.1") {
  SmtpClientStart started = SmtpClientThread::Create("", address, "", text, port, sender, recipients, "");
  if (!started.thread) ADD_FAILURE() << "refused: " << started.refusal;
  return std::move(started.thread);
}

// What a server stores of a text sent after DATA: without the end mark,
// one "." off every line that starts with one.
std::string Unstuffed(std::string text) {
  text.resize(text.size() - 3);
  for (std::size_t at = 0; at < text.size(); at = text.find("\r\n", at) + 2) {
    if (text[at] == '.') text.erase(at, 1);
    if (text.find("\r\n", at) == std::string::npos) break;
  }
  return text;
}

TEST(SmtpClient, RawServerScenarios) {
  SmtpClientThread::SetTimeouts({2'000, 20'000});
  struct Case {
    const char* scenario;
    bool sent;
    const char* lastReply;  // nullptr: not checked
    int received;           // command lines (the text counts as one) the server got; -1: not checked
    std::string text = Text, recipients = "<a@x>";
  };
  const Case cases[] = {
      {"GREET421", false, "421 busy", 0},
      {"GREET554", false, "554 no service here", 0},
      {"HELO501", false, "501 bad greeting", 1},
      {"MAIL451", false, "451 try later", 2},
      {"MAIL550", false, "550 sender refused", 2},
      {"RCPT452", false, "452 too many", 3},
      {"DATA554", false, "554 no data", 4},
      {"AFTER452", false, "452 no room", 5},
      {"AFTER554", false, "554 rejected", 5},
      {"QUIT500", true, "500 what", 6},
      {"MULTI", true, "221 bye", 6},
      {"BYTEWISE", true, "221 bye", 6},
      {"DROPQUIT", true, "", 6},
      {"TWOINONE", false, "421 closing", 2},
      {"LONG250", true, "221 bye", 6},
      {"SLOWGREET", false, "", 0},
      {"SLOWMAIL", false, "", 2},
      {"SLOWACCEPT", true, "221 bye", 6},
      {"DROPGREET", false, "", 0},
      {"DROPDATA", false, "354 go ahead", -1, std::string(4 << 20, 'd') + "\r\n.\r\n"},
      {"DROP354", false, nullptr, 4},
      {"BIG", true, "221 bye", 6, std::string(200'000 - 5, 'm') + "\r\n.\r\n"},
      {"OK", true, "221 bye", 6, Text, "<" + std::string(249, 'p') + "@x.yz>"},  // a path of 256
  };
  const auto received = [](const Case& c) {
    const std::string lines[] = {"HELO localhost\r\n",
                                 "MAIL From:<s@x>\r\n",
                                 "RCPT To:" + c.recipients + "\r\n",
                                 "DATA\r\n",
                                 c.text,
                                 "QUIT\r\n"};
    std::string text;
    for (int i = 0; i < c.received; ++i)
      text += lines[i];
    return text;
  };

  // All at once: each runs on its own thread.
  std::vector<std::unique_ptr<SmtpClientThread>> threads;
  const auto start = std::chrono::steady_clock::now();
  for (const auto& c : cases)
    threads.push_back(Start(PeerPort((std::string("S_") + c.scenario).c_str()), c.recipients, c.text));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    threads[i]->WaitFor();
    EXPECT_TRUE(threads[i]->Connected()) << c.scenario;
    EXPECT_EQ(threads[i]->Sent(), c.sent) << c.scenario;
    if (c.lastReply != nullptr) {
      EXPECT_EQ(threads[i]->LastReply(), c.lastReply) << c.scenario;
    }
    if (c.received >= 0) {
      EXPECT_EQ(Ask(std::string("RAW ") + c.scenario + "\n"), "1\n" + received(c)) << c.scenario;
    }
  }
  // The slow ones waited 2 s (greeting, MAIL) and 3 s (after the data).
  EXPECT_LT(MillisecondsSince(start), 15'000);
  SmtpClientThread::SetTimeouts({});
}

TEST(SmtpClient, CreateRefusesBeforeConnecting) {
  const struct {
    std::string sender, recipients, text;
  } cases[] = {
      {"<s@x>", "<a@x>\r\nRSET", Text},
      {"<s@x>", "<a@x>;<" + std::string(250, 'p') + "@x.yz>", Text},
      {"<s@x>", "<a@x>", "Subject: t\r\n\r\nbody\r\n"},
      {"<s@x>", "<a@x>", "Subject: t\r\n\r\nbody\r\n.\r\nRSET\r\nMAIL From:<x@y>\r\n.\r\n"},
  };
  for (const auto& c : cases) {
    const SmtpClientStart started =
        SmtpClientThread::Create("", "127.0.0.1", "", c.text, PeerPort("S_UNUSED"), c.sender, c.recipients, "");
    EXPECT_TRUE(started.thread == nullptr && !started.refusal.empty()) << c.recipients << "|" << c.text;
  }
  EXPECT_EQ(Ask("RAW UNUSED\n"), "0\n");
}

TEST(SmtpClient, DeliversToAnSmtpServer) {
  const struct {
    const char *sender, *recipients, *address;
    bool sent;
    const char *lastReply, *stored;  // stored: the recipients the server kept; nullptr: nothing stored
  } cases[] = {
      {"plain@t", "<a@x>", "127.0.0.1", true, "221 Bye", "a@x"},
      {"two@t", "<a@x>;<b@x>", "127.0.0.1", true, "221 Bye", "a@x b@x"},
      {"ended@t", "<c1@x>;<c2@x>;<c3@x>;", "127.0.0.1", true, "221 Bye", "c1@x c2@x c3@x"},
      {"fwd@t", "<fwd1@x>", "127.0.0.1", true, "221 Bye", "fwd1@x"},
      {"fwdfirst@t", "<fwd2@x>;<b@x>", "127.0.0.1", true, "221 Bye", "fwd2@x b@x"},
      {"multi@t", "<multi1@x>;<a@x>", "127.0.0.1", true, "221 Bye", "multi1@x a@x"},
      {"bad@t", "<a@x>;<bad1@x>;<b@x>", "127.0.0.1", false, "550 no such user", nullptr},
      {"empty@t", " ; ", "127.0.0.1", false, "501 Syntax: RCPT TO: <address>", nullptr},
      {"v6@t", "<a@x>", "::1", true, "221 Bye", "a@x"},
  };
  for (const auto& c : cases) {
    const bool v6 = std::string(c.address) == "::1";
    if (v6 && PeerPort("SMTP6") == 0) continue;  // [::1] cannot be bound here
    auto thread =
        Start(PeerPort(v6 ? "SMTP6" : "SMTP4"), c.recipients, Text, std::string("Name <") + c.sender + ">", c.address);
    thread->WaitFor();
    EXPECT_TRUE(thread->Connected()) << c.sender;
    EXPECT_EQ(thread->Sent(), c.sent) << c.sender;
    EXPECT_EQ(thread->LastReply(), c.lastReply) << c.sender;
    const auto stored = Deliveries(c.sender);
    if (c.stored == nullptr) {
      EXPECT_TRUE(stored.empty()) << c.sender;
    } else {
      ASSERT_EQ(stored.size(), 1u) << c.sender;
      EXPECT_EQ(stored[0].first, c.stored) << c.sender;
      EXPECT_EQ(stored[0].second, Unstuffed(Text)) << c.sender;
    }
  }
}

TEST(SmtpClient, NoConnection) {
  for (const auto& [host, port] :
       {std::pair{"", PeerPort("CLOSED")}, std::pair{"no-such.invalid", std::uint16_t{25}}}) {
    auto thread = SmtpClientThread::Create(host, *host ? "" : "127.0.0.1", "", Text, port, "<s@x>", "<a@x>", "").thread;
    ASSERT_TRUE(thread);
    thread->WaitFor();
    EXPECT_FALSE(thread->Connected()) << host;
    EXPECT_FALSE(thread->Sent()) << host;
    EXPECT_EQ(thread->LastReply(), "") << host;
  }
}

TEST(SmtpClient, SixteenSendersAtOnce) {
  constexpr int Senders = 16, Messages = 20;
  const auto message = [](int s, int m) {
    return "Subject: " + std::to_string(s) + "-" + std::to_string(m) + "\r\n\r\n.body\r\n.\r\n";
  };
  const auto recipients = [](int s, int m) {
    const std::string id = std::to_string(s) + "-" + std::to_string(m);
    return "r" + id + "a@x r" + id + "b@x";
  };
  std::vector<std::thread> senders;
  std::vector<int> delivered(Senders, 0);
  for (int s = 0; s < Senders; ++s) {
    senders.emplace_back([&, s] {
      for (int m = 0; m < Messages; ++m) {
        std::string list = recipients(s, m);
        list = "<" + list.replace(list.find(' '), 1, ">;<") + ">";
        auto thread = Start(PeerPort("SMTP4"), list, message(s, m), "<load" + std::to_string(s) + "@t>");
        thread->WaitFor();
        delivered[static_cast<std::size_t>(s)] += thread->Sent();
      }
    });
  }
  for (auto& sender : senders)
    sender.join();
  for (int s = 0; s < Senders; ++s) {
    EXPECT_EQ(delivered[static_cast<std::size_t>(s)], Messages) << s;
    std::map<std::string, std::string> stored;
    for (const auto& [rcpts, content] : Deliveries("load" + std::to_string(s) + "@t"))
      EXPECT_TRUE(stored.emplace(content, rcpts).second) << content;
    ASSERT_EQ(stored.size(), std::size_t{Messages}) << s;
    for (int m = 0; m < Messages; ++m)
      EXPECT_EQ(stored[Unstuffed(message(s, m))], recipients(s, m));
  }
}

TEST(SmtpClientSlow, SilentServerEndsAfterOneMinute) {
  const auto start = std::chrono::steady_clock::now();
  auto thread = Start(PeerPort("S_SILENT"));
  thread->WaitFor();
  EXPECT_TRUE(thread->Connected());
  EXPECT_FALSE(thread->Sent());
  EXPECT_EQ(thread->LastReply(), "");
  EXPECT_GE(MillisecondsSince(start), 59'000);
  EXPECT_LT(MillisecondsSince(start), 70'000);
}

}  // namespace
