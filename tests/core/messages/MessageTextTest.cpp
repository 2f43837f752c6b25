// The message-file forms at every block edge, stamps and names, context
// texts and the address-list check over in-memory files. Expected values are
// written out by hand (the DOS words were checked with Python's zipfile).
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/messages/AddressList.h"
#include "core/messages/MessageContext.h"
#include "core/messages/MessageText.h"
#include "core/mime/HeaderText.h"
#include "core/util/NetText.h"

namespace core {
namespace {

// The outputs for the text cut once at every position, the rest fed byte by byte.
template <typename Machine>
std::set<std::string> EveryCut(const std::string& text) {
  std::set<std::string> outputs;
  for (std::size_t split = 0; split <= text.size(); ++split) {
    Machine machine;
    std::string out;
    machine.Feed(std::string_view(text).substr(0, split), out);
    for (std::size_t at = split; at < text.size(); ++at)
      machine.Feed(std::string_view(text).substr(at, 1), out);
    if constexpr (requires { machine.Finish(out); }) machine.Finish(out);
    outputs.insert(out);
  }
  return outputs;
}
using One = std::set<std::string>;

TEST(MessageText, StuffingAndTheEndMarkAtEveryBlockEdge) {
  const std::pair<std::string, std::string> stuffing[] = {
      {"", ""}, {".", ".."}, {".\r\n..\r\n.x\r\nx.\r\n", "..\r\n...\r\n..x\r\nx.\r\n"}, {"a\n.b\r.c", "a\n..b\r.c"}};
  for (const auto& [text, stuffed] : stuffing) {
    EXPECT_EQ(EveryCut<DotStuffer>(text), One{stuffed}) << text;
    EXPECT_EQ(EveryCut<DotUnstuffer>(stuffed), One{text}) << text;
  }
  const std::pair<std::string, std::string> tmp[] = {{"S: x\r\n\r\n..\r\n.\r\n", "S: x\r\n\r\n."},
                                                     {"\r\n.\r\n", ""},
                                                     {"x\r\n.\r\n\r\n.\r\n", "x\r\n\r\n"},
                                                     {"no mark\r\n", "no mark\r\n"},
                                                     {"..ab", ".ab"},
                                                     {"ab", "ab"}};
  for (const auto& [file, text] : tmp)
    EXPECT_EQ(EveryCut<TmpDecoder>(file), One{text}) << file;
  EXPECT_EQ(StuffMessage(".\r\nx"), "..\r\nx\r\n.\r\n");
  EXPECT_EQ(UnstuffMessage(StuffMessage(".\r\nx")), ".\r\nx");
}

TEST(MessageText, StampsHeadersAndNames) {
  EXPECT_EQ(DosDateTime({2003, 1, 5, 9, 4, 7}), 0x2E254883u);
  EXPECT_EQ(DosDateTime({1975, 6, 1, 12, 30, 0}), 0x00210000u);  // 1980-01-01 00:00:00
  EXPECT_EQ(DosDateTime({2150, 1, 1, 0, 0, 0}), 0xFF9FBF7Du);    // 2107-12-31 23:59:58
  EXPECT_EQ(ImapMessageHeader(0x2E254883), "00000000000000002E254883\r\n");
  EXPECT_EQ(MessageFileName("C:\\m\\", "px", {2026, 12, 8, 9, 5, 3}, 0xABCD, ".tmp"),
            "C:\\m\\px20261208090503ABCD.tmp");
  for (const auto& [name, base] : {std::pair{"a.b.tmp", "a.b"},
                                   {"x-y-00000000000000002E254883.imap", "x-y"},
                                   {"a-b.c.tmp", "a"},
                                   {"-x.tmp", ""},
                                   {"plain", "plain"}})
    EXPECT_EQ(ConvertedBaseName(name), base) << name;
  EXPECT_TRUE(HasExtension("A.TMP", ".tmp"));
  EXPECT_FALSE(HasExtension("x.tmpl", ".tmp"));
}

TEST(MessageText, ContextTextsListItemsAliasesAndIPPatterns) {
  MessageContext context;
  EXPECT_EQ(BuildSpamStatusText(context), "");
  context.filterFlags = SpamAssassinScorePresent | HtmlFilterHit;
  context.spamAssassinScore = 530;
  EXPECT_EQ(BuildSpamStatusText(context), "SpamAssassin=5.30,HTML");
  context.filterFlags = 0x7F;
  context.spamAssassinScore = -125;
  context.bayesProbability = 8750;
  EXPECT_EQ(BuildSpamStatusText(context),
            "SpamAssassin=-1.25,Bayes=87.50%,HTML,Charset,StaticFilter,ContentFilter,AntiSpam");

  std::string single = "ann@a.test", two = "a@x; b@y;";
  EXPECT_EQ(GetListItemAt(single, 0) + "|" + GetListItemAt(single, 1) + "|" + single, "ann@a.test||ann@a.test;");
  EXPECT_EQ(GetListItemAt(two, 1), "b@y");
  EXPECT_EQ(ExtractAliasPart("Ann <ann@a.test>") + "|" + ExtractAliasPart("<plain>"), "ann|plain");

  for (const auto& [text, yes] : {std::pair{"1.2.3", false},
                                  {"192.168.*", true},
                                  {"10.0.0.0/8", true},
                                  {"10.1.1.1-20", true},
                                  {".1.2.3.4", false},
                                  {"1.2.3.4.", false},
                                  {"10.0.0.x", false},
                                  {"1.2.3.4 ", false},
                                  {"123456", true}})
    EXPECT_EQ(IsIPPattern(text), yes) << text;
}

class MemoryLists final : public AddressListFiles {
 public:
  std::map<std::string, std::vector<std::string>> files;
  int reads = 0;
  bool Exists(const std::string& name) override { return files.count(name) != 0; }
  bool ReadLines(const std::string& name, std::vector<std::string>& lines) override {
    ++reads;
    lines = files.at(name);
    return true;
  }
  std::string IncludePath(std::string_view name) override { return "cfg\\" + std::string(name); }
  bool DomainServed(std::string_view domain) override { return domain == "a.test"; }
  bool IPMatches(std::string_view ip, std::string_view pattern) override {
    return ip.starts_with(pattern.substr(0, pattern.find('*')));
  }
};

AddressListSubject Subject(std::string alias, std::string domain, std::string recipientDomain, std::string ip = "") {
  return {{{"rcpt", std::move(recipientDomain)}}, std::move(alias), std::move(domain), std::move(ip)};
}

TEST(AddressList, PatternsIncludesCyclesAndTheLocalCompanion) {
  MemoryLists lists;
  lists.files = {{"cfg\\list", {"# bypass", "  Boss@Corp.example // chief", "@*.partner.example", "{more}"}},
                 {"cfg\\more", {"10.1.1.*", "{list}", "{cycle}", "{missing}", "last.example"}},
                 {"cfg\\cycle", {"{more}", "{cycle}"}}};
  const std::pair<AddressListSubject, bool> rows[] = {
      {Subject("boss", "corp.example", "x.test"), false},  // the sender's address, case folded
      {Subject("ann", "b.test", "corp.example"), true},    // the domain alone is no address
      {Subject("ann", "b.test", "mx.partner.example"), false},
      {Subject("ann", "b.test", "x.test", "10.1.1.9"), false},  // in the included file
      {Subject("ann", "b.test", "x.test", "10.1.2.9"), true},
      {Subject("ann", "last.example", "x.test"), false},  // read on past the cycle
      {Subject("ann", "a.test", "a.test"), true},
  };
  for (const auto& [subject, notListed] : rows)
    EXPECT_EQ(AddressNotListed(subject, "cfg\\list", lists), notListed) << subject.senderDomain;
  EXPECT_TRUE(AddressNotListed(Subject("a", "b.test", "b.test"), "cfg\\none", lists));

  lists.files["cfg\\list.local.dat"] = {};
  lists.reads = 0;
  EXPECT_FALSE(AddressNotListed(Subject("ann", "a.test", "a.test"), "cfg\\list", lists));
  EXPECT_EQ(lists.reads, 0);  // decided without reading the list
  EXPECT_TRUE(AddressNotListed(Subject("", "a.test", "a.test"), "cfg\\list", lists));
  EXPECT_TRUE(AddressNotListed(Subject("ann", "c.test", "c.test"), "cfg\\list", lists));  // not served
}

}  // namespace
}  // namespace core
