// The expansion of template lines and messages over an environment in
// memory: every variable alone, twice and in capitals; the edge cases of the
// variables; values holding variables come out as text; include limits and
// 64-bit positions; a message in both forms; the date-time format language.
#include "core/variables/LineExpansion.h"

#include <gtest/gtest.h>

#include "core/messages/MessageText.h"
#include "core/mime/MailDate.h"
#include "core/util/Text.h"
#include "core/variables/DateTimeFormat.h"
#include "tests/support/fake_variables.h"

namespace {

using namespace core;
using namespace std::string_literals;
using testing_support::FakeVariables;

FakeVariables Env() {
  SetTimeZoneSource(nullptr);  // UTC: "-0000"
  FakeVariables env;
  MessageContext& c = env.context;
  c.sender = "<carl@c.example>";
  c.recipients = "<dora@d.example>;";
  c.messageFile = "C:\\m\\1.tmp";
  c.virusName = "Eicar-Test";
  c.bayesProbability = 8750;
  c.spamAssassinScore = 530;
  c.filterFlags = SpamAssassinScorePresent | HtmlFilterHit;
  c.messageSize = 3072;
  c.hasIPText = true;
  c.ipText = "192.0.2.7";
  env.headers = {{"from:", "\"Ann Example\" <ann@a.example>"},
                 {"to:", "Bob <bob@b.example>"},
                 {"subject:", "Re: word"},
                 {"message-id:", "<id1@a.example>"},
                 {"x-coded:", "=?iso-8859-1?Q?caf=E9_au_lait?="},
                 {"x-two:", "two"}};
  env.headerBlock = "From: a\r\nTo: b\r\n";
  env.body = "plain\r\n";
  env.html = "<p>html</p>\r\n";
  env.attachments = "a.pdf, b.txt";
  env.files = {{"inc.txt", "one %%Subject%%\r\n.dot\n$$Set x$$\rlast"}, {"abc.bin", "abc"}, {"empty", ""}};
  env.commands = {{" echo hi", "hi\r\n"}};
  return env;
}

struct Row {
  const char* line;
  std::string expected;
};

TEST(LineExpansion, EveryTokenAloneTwiceAndInCapitals) {
  const Row tokens[] = {
      {"%%From%%", "\"Ann Example\" <ann@a.example>"},
      {"%%To%%", "Bob <bob@b.example>"},
      {"%%Sender%%", "<carl@c.example>"},
      {"%%Recipient%%", "<dora@d.example>;"},
      {"%%From_Email%%", "ann@a.example"},
      {"%%To_Email%%", "bob@b.example"},
      {"%%Sender_Email%%", "carl@c.example"},
      {"%%Recipient_Email%%", "dora@d.example"},
      {"%%Message-Id%%", "<id1@a.example>"},
      {"%%MessageFile%%", "C:\\m\\1.tmp"},
      {"%%VirusName%%", "Eicar-Test"},
      {"%%SpamProbability%%", "0.88"},
      {"%%SpamPercentage%%", "87.50"},
      {"%%SpamHits%%", "5.30"},
      {"%%SpamReason%%", "SpamAssassin=5.30,HTML"},
      {"%%From_Alias%%", "ann"},
      {"%%Sender_Alias%%", "carl"},
      {"%%From_Domain%%", "a.example"},
      {"%%Sender_Domain%%", "c.example"},
      {"%%To_Alias%%", "bob"},
      {"%%Recipient_Alias%%", "dora"},
      {"%%To_Domain%%", "b.example"},
      {"%%Recipient_Domain%%", "d.example"},
      {"%%Subject%%", "Re: word"},
      {"%%From_Name%%", "Ann Example"},
      {"%%To_Name%%", "Bob"},
      {"%%Date%%", "1/5/2003"},
      {"%%RFC822_Date%%", "Sun, 05 Jan 2003 09:04:07 -0000"},
      {"%%Time%%", "9:04:07 AM"},
      {"%%Size%%", "3.00"},
      {"%%IP%%", "192.0.2.7"},
      {"%%Header%%", "From: a\r\nTo: b\r\n"},
      {"%%Body%%", "plain\r\n"},
      {"%%Body_HTML%%", "<p>html</p>\r\n"},
      {"%%AttachmentNames%%", "a.pdf, b.txt"},
  };
  for (const Row& row : tokens) {
    FakeVariables env = Env();
    const std::string token = row.line;
    EXPECT_EQ(ExpandSystemVariablesText(env, token), row.expected) << token;
    EXPECT_EQ(ExpandSystemVariablesText(env, "<" + token + token + ">"), "<" + row.expected + row.expected + ">");
    EXPECT_EQ(ExpandSystemVariablesText(env, UpperCase(token) + " " + LowerCase(token)),
              row.expected + " " + row.expected);
  }
  // The two values of a message with nothing in it.
  FakeVariables bare;
  bare.context.bayesProbability = 10000;
  EXPECT_EQ(
      ExpandSystemVariablesText(bare, "%%SpamProbability%%|%%From%%|%%From_Name%%|%%To_Email%%|%%Sender_Domain%%"),
      "1.00||||");
  bare.headers["from:"] = "<only@x.example>";
  EXPECT_EQ(ExpandSystemVariablesText(bare, "[%%From_Name%%]"), "[]");
}

TEST(LineExpansion, KeywordsTheirArgumentsAndTheEdgesOfTheLine) {
  const struct {
    const char* line;
    std::string expected;
    bool keep;
    std::vector<std::string> runs;
  } rows[] = {
      {"%%Header Subject%%", "Re: word", true, {}},
      {"%%Header Subject:%%", "Re: word", true, {}},
      {"%%HEADER SUBJECT%%", "Re: word", true, {}},
      {"%%Header X-Coded%%", "caf\xE9 au lait", true, {}},
      {"%%Header Nothing%%", "", true, {}},
      {"%%Header Subject%%/%%Header X-Two%%", "Re: word/two", true, {}},
      {"%%Delete Subject 0 4%%", "word", true, {}},
      {"%%Copy Subject 0 2%%", "Re", true, {}},
      {"%%Copy   Subject   4  99%%|%%Delete Subject x y%%", "word|Re: word", true, {}},
      {"%%FormatDateTime yyyy/mm/dd hh:nn%%", " 2003-01-05 09.04", true, {}},
      {"%%FormatDateTime%%%%FormatDateTime h%%", " 9", true, {}},
      {"%%FORMATDATETIME yyyy%%%%formatdatetime yyyy%%", "%%FORMATDATETIME yyyy%%%%formatdatetime yyyy%%", true, {}},
      {"%%Include inc.txt%%", "one Re: word\r\n.dot\r\n\r\nlast\r\n", true, {}},
      {"[%%INCLUDE empty%%]", "[]", true, {}},
      {"%%Include none.txt%%", "none.txt", true, {}},
      {"a%%Include_Base64 abc.bin%%b", "a%%Include_Base64 b", true, {}},
      {"%%Exec echo hi%%", "hi\r\n", true, {" echo hi"}},
      {"%%Exec echo hi%%%%EXEC echo ho%%", "hi\r\n", true, {" echo hi", " echo ho"}},
      {"%%Exec%%Exec x%%", "Exec x%%", true, {""}},
      {"%%\\Subject%% %%\\%%Subject%%", "%%Subject%% %%Re: word", true, {}},
      {"$$Set some text$$", "", false, {}},
      {"a $$SET b$$ c $$Set$", "a  c ", false, {}},
      // Earlier variables win where occurrences overlap; an argument never
      // reaches into another variable, and nothing is found without its end.
      {"%%Subject%%To_Alias%%", "%%Subjectbob", true, {}},
      {"%%To_Alias%%Subject%%", "bobSubject%%", true, {}},
      {"%%Exec a %%From_Alias%% b%%", "%%Exec a ann b%%", true, {}},
      {"%%Header Subject", "%%Header Subject", true, {}},
      {"$$Set open", "$$Set open", true, {}},
      {"50%% off, $$ back", "50%% off, $$ back", true, {}},
      {"100%", "100%", true, {}},
  };
  for (const auto& row : rows) {
    FakeVariables env = Env();
    bool keep = true;
    std::string out;
    ExpandSystemVariables(env, row.line, keep, out, nullptr);
    EXPECT_EQ(out, row.expected) << row.line;
    EXPECT_EQ(keep, row.keep) << row.line;
    EXPECT_EQ(env.Calls("exec "), row.runs) << row.line;
  }
}

TEST(LineExpansion, ValuesHoldingVariablesComeOutAsTheyAre) {
  const std::string evil = "%%Subject%%%%Exec calc%%%%Include c:\\x%%$$Set$%%\\%%Include_Base64 c:\\y%%";
  FakeVariables env = Env();
  MessageContext& c = env.context;
  c.sender = c.recipients = c.messageFile = c.virusName = c.ipText = evil;
  for (auto& [name, value] : env.headers)
    value = evil;
  env.headerBlock = env.body = env.html = env.attachments = evil;
  env.commands[" ok"] = evil;
  const std::string verbatim =
      "%%From%%|%%To%%|%%Sender%%|%%Recipient%%|%%Message-Id%%|%%MessageFile%%|%%VirusName%%|%%Subject%%|%%IP%%|"
      "%%Header%%|%%Body%%|%%Body_HTML%%|%%AttachmentNames%%|%%Header X-Two%%|%%Delete Subject -1 0%%|%%Exec ok%%";
  std::string expected = evil;
  for (int i = 1; i < 16; ++i)
    expected += "|" + evil;
  bool keep = true;
  std::string out;
  ExpandSystemVariables(env, verbatim, keep, out, nullptr);
  EXPECT_EQ(out, expected);
  EXPECT_TRUE(keep);
  // The rest derive from those values; still nothing is run or read.
  ExpandSystemVariables(env,
                        "%%From_Email%%%%To_Email%%%%Sender_Email%%%%Recipient_Email%%%%From_Alias%%%%Sender_Alias%%"
                        "%%From_Domain%%%%Sender_Domain%%%%To_Alias%%%%Recipient_Alias%%%%To_Domain%%"
                        "%%Recipient_Domain%%%%From_Name%%%%To_Name%%%%Copy Subject 0 99%%",
                        keep, out, nullptr);
  EXPECT_TRUE(keep);
  EXPECT_EQ(env.Calls("exec "), std::vector<std::string>{" ok"});
  EXPECT_TRUE(env.Calls("file ").empty());

  // An alias of address characters in front of the template's own command.
  FakeVariables alias = Env();
  alias.context.recipients = "<x%%Execcalc%%@a.test>";
  EXPECT_EQ(ExpandSystemVariablesText(alias, "Hi %%Recipient%% %%Exec echo hi%%"), "Hi <x%%Execcalc%%@a.test> hi\r\n");
  EXPECT_EQ(alias.Calls("exec "), std::vector<std::string>{" echo hi"});
}

TEST(LineExpansion, IncludesStopAtTheirLimits) {
  FakeVariables env = Env();
  env.files = {{"c1", "%%Include c2%%"}, {"c2", "%%Include c1%%"}};
  for (int i = 1; i <= 9; ++i)
    env.files["f" + std::to_string(i)] = std::to_string(i) + "%%Include f" + std::to_string(i + 1) + "%%";
  // The cycle ends after 8 nested reads; the chain's ninth file is not read.
  EXPECT_EQ(ExpandSystemVariablesText(env, "%%Include c1%%"), "c1\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
  EXPECT_EQ(env.Calls("file ").size(), 8u);
  env.calls.clear();
  EXPECT_EQ(ExpandSystemVariablesText(env, "%%Include f1%%"), "12345678f9\r\n\r\n\r\n\r\n\r\n\r\n\r\n\r\n");
  EXPECT_EQ(env.Calls("file ").back(), "f8");

  // 40 MiB fits once into a line's 64 MiB; the second gives its name.
  env.files["big"] = std::string(40 << 20, 'x');
  const std::string twice = ExpandSystemVariablesText(env, "%%Include big%%|%%Include big%%");
  EXPECT_EQ(twice.size(), (40u << 20) + 2 + 4);
  EXPECT_EQ(twice.substr(twice.size() - 6), "\r\n|big");
  EXPECT_EQ(ExpandSystemVariablesText(env, "%%Include big%%").size(), (40u << 20) + 2);  // a new line, a new budget
  // The limit counts the bytes of the files read.
  env.files["lines"] = "aaaa\r\nbbbb\r\ncccc\r\n";
  EXPECT_EQ(ExpandSystemVariablesText(env, "%%Include lines%%", {8, 17}), "lines");
  EXPECT_EQ(ExpandSystemVariablesText(env, "%%Include lines%%", {8, 18}), "aaaa\r\nbbbb\r\ncccc\r\n");
  EXPECT_EQ(ExpandSystemVariablesText(env, "%%Include lines%%%%Include lines%%", {8, 35}),
            "aaaa\r\nbbbb\r\ncccc\r\nlines");
}

TEST(LineExpansion, DeleteAndCopyPositionsIn64Bits) {
  const Row rows[] = {
      {"%%Delete Subject 2147483647 1%%", "Re: word"},
      {"%%Copy Subject 2147483647 1%%", ""},
      {"%%Delete Subject $7FFFFFFF 5%%", "Re: word"},
      {"%%Delete Subject 0 -1%%", "Re: word"},
      {"%%Copy Subject 0 -1%%", ""},
      {"%%Delete Subject 3 2147483647%%", "Re:"},
      {"%%Copy Subject 3 2147483647%%", " word"},
      {"%%Delete Subject -1 2%%", "Re: word"},
      {"%%Copy Subject -2147483648 2%%", "Re: word"},
      {"%%Copy Subject 7 1%%", "d"},
      {"%%Copy Subject 8 1%%", ""},
      {"%%Delete Nothing 0 1%%", ""},
  };
  for (const Row& row : rows) {
    FakeVariables env = Env();
    EXPECT_EQ(ExpandSystemVariablesText(env, row.line), row.expected) << row.line;
  }
}

struct FailingSink : ByteSink {
  bool Write(std::string_view) override { return false; }
};

TEST(MessageExpansion, BothFormsEveryLineBreakAndNothingLostOnAFailedWrite) {
  FakeVariables env = Env();
  env.body = ".\r\n.x\r\nend";
  env.commands[" dots"] = ".\n.y\r";
  env.files["dots.txt"] = ".\r\n.z\r\n";
  const std::string lines =
      "\r\n%%Body%%\r\n%%Exec dots%%\r\n%%Include dots.txt%%\r\n$$Set gone$$\r\na %%Include_Base64 abc.bin%% b\n"
      "%%Include_Base64 none%%\rx%%Include_Base64 none%%%%Include_Base64 abc.bin%%\r\nbin\x1a\0ary\r\n"s;
  const std::string tmp = "Subject: s\r\n..dot %%Subject%%" + lines + "tail\r\n.\r\n";
  const std::string imap = "Subject: s\r\n.dot %%Subject%%" + lines + "tail";
  const std::string expanded =
      "Subject: s\r\n.dot Re: word\r\n.\r\n.x\r\nend\r\n.\r\n.y\r\n\r\n.\r\n.z\r\n\r\na  bYWJj\r\n\r\n"
      "x\r\nYWJj\r\nbin\x1a\0ary\r\ntail\r\n"s;

  std::string stuffed, plain;
  StringSink toStuffed(stuffed), toPlain(plain);
  MemorySource tmpSource(tmp, 7), imapSource(imap);
  ASSERT_TRUE(ExpandMessageLines(env, tmpSource, toStuffed, true));
  EXPECT_EQ(stuffed, StuffMessage(expanded.substr(0, expanded.size() - 2)));
  ASSERT_TRUE(ExpandMessageLines(env, imapSource, toPlain, false));
  EXPECT_EQ(plain, expanded);
  EXPECT_EQ(UnstuffMessage(stuffed) + "\r\n", plain);

  FailingSink broken;
  MemorySource again(imap);
  EXPECT_FALSE(ExpandMessageLines(env, again, broken, false));
  // Marks at every offset of a word; a line of any length, its variable at the end.
  for (std::size_t k = 0; k < 18; ++k) {
    FakeVariables at = Env();
    bool keep = true;
    std::string line;
    ExpandSystemVariables(at, std::string(k, '%') + "%%To_Alias%%" + std::string(k, '$'), keep, line, nullptr);
    EXPECT_EQ(line, std::string(k, '%') + "bob" + std::string(k, '$')) << k;
    EXPECT_TRUE(keep) << k;
    ExpandSystemVariables(at, std::string(k, 'x') + "$$set$", keep, line, nullptr);
    EXPECT_FALSE(keep) << k;
  }
  std::string out;
  StringSink toOut(out);
  const std::string longLine = std::string(3 << 20, 'y') + "%%To_Alias%%";
  MemorySource longSource(longLine);
  ASSERT_TRUE(ExpandMessageLines(env, longSource, toOut, false));
  EXPECT_EQ(out, std::string(3 << 20, 'y') + "bob\r\n");
}

TEST(DateTimeFormat, EveryTokenAgainstItsText) {
  const LocalTime morning{2003, 1, 5, 9, 4, 7, 89}, evening{2003, 12, 31, 17, 8, 9, 5}, midnight{2003, 1, 5};
  const LocalTime noon{2003, 1, 5, 12, 0, 0, 0};
  const struct {
    const LocalTime& time;
    const char* format;
    const char* expected;
  } rows[] = {
      {morning, "d|dd|ddd|dddd", "5|05|Sun|Sunday"},
      {morning, "ddddd|dddddd", "1/5/2003|Sunday, January 5, 2003"},
      {morning, "ddddddd", "Sunday, January 5, 20035"},
      {morning, "m|mm|mmm|mmmm|mmmmm", "1|01|Jan|January|January1"},
      {morning, "h:m hh:mm hhmm h m h'x'm h-mm yyyy-mm", "9.4 09.04 0904 9 4 9x4 9-04 2003-01"},
      {morning, "y|yy|yyy|yyyy", "y|03|03y|2003"},
      {morning, "h|hh|n|nn|s|ss|z|zz|zzz", "9|09|4|04|7|07|89|8989|089"},
      {morning, "t|tt", "9:04 AM|9:04:07 AM"},
      {morning, "am/pm|AM/PM|Am/pM|a/p|A/P|ampm", "am|AM|Am|a|A|AM"},
      {morning, "DD.MM.YYYY HH:NN:SS", "05.01.2003 09.04.07"},
      {morning, "/:", "-."},
      {morning, "'dd/mm'\"hh:nn\"'open", "dd/mmhh:nnopen"},
      {morning, "c", "1/5/2003 9:04:07 AM"},
      {morning, "Week xe, qu!", "Week xe, qu!"},
      {morning, "", ""},
      {evening, "ddd dddd mmm mmmm", "Wed Wednesday Dec December"},
      {evening, "hh", "17"},
      {evening, "hh am/pm|h a/p|hh ampm|zzz", "05 pm|5 p|05 PM|005"},
      {evening, "c", "12/31/2003 5:08:09 PM"},
      {midnight, "c|h am/pm", "1/5/2003|12 am"},
      {noon, "h am/pm|hh", "12 pm|12"},
  };
  testing_support::FakeDateLocale locale;
  for (const auto& row : rows)
    EXPECT_EQ(FormatDateTime(row.format, row.time, locale), row.expected) << row.format;
}

}  // namespace
