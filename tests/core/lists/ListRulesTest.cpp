// Group membership over in-memory files and the keys of "default.ini", with
// the offsets written out from the record documentation.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/lists/Defaults.h"
#include "core/lists/Groups.h"

namespace core {
namespace {

class MemoryFiles final : public GroupFiles {
 public:
  explicit MemoryFiles(std::map<std::string, std::string> files) : files_(std::move(files)) {}
  Parsed Read(std::string_view name) override {
    const auto found = files_.find(std::string(name));
    if (found == files_.end()) return nullptr;
    std::vector<std::string> lines;
    std::string line;
    for (const char c : found->second) {
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    lines.push_back(line);
    return ParseGroupFile(lines);
  }

 private:
  std::map<std::string, std::string> files_;
};

TEST(Groups, SectionsNestingIncludesPatternsAndCycles) {
  MemoryFiles files({{"groups.dat",
                      "[Staff]\n"
                      "Ann@Example.org\n"
                      "@sales.example\n"
                      "# a comment line does not end the section\n"
                      "partner.example\n"
                      "[Admins]\n"
                      "{more.txt}\n"
                      "10.1.*.*\n"
                      "\n"
                      "[Admins]\n"
                      "root@example.org\n"
                      "[Staff]\n"
                      "\n"
                      "[Loop]\n"
                      "[Loop2]\n"
                      "\n"
                      "[Loop2]\n"
                      "[loop]\n"
                      "\n"
                      "[Wild]\n"
                      "*.example.net\n"},
                     {"more.txt", "carol@example.org\n[Wild]\n"}});
  const struct {
    const char* item;
    const char* group;
    bool member;
  } cases[] = {
      {"ann@example.org", "[staff]", true},    // patterns compared in lower case
      {"bob@sales.example", "[staff]", true},  // "@domain"
      {"x@partner.example", "[staff]", true},  // a domain alone admits by the domain part
      {"carol@example.org", "[staff]", true},  // through [Admins] and its include
      {"z@a.example.net", "[staff]", true},    // through the include's own group
      {"10.1.2.3", "[staff]", true},
      {"10.2.2.3", "[staff]", false},
      {"root@example.org", "[admins]", true},  // a second section of the same name
      {"root@example.org", "[staff]", true},   // "[Admins]" inside a section is a reference, not a name
      {"nobody@example.org", "[staff]", false},
      {"anyone", "[loop]", false},  // a cycle ends as no match
      {"", "[staff]", false},
      {"ann@example.org", "[nobody]", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(IsGroupMember(c.item, c.group, false, files), c.member) << c.item << " in " << c.group;

  const GroupMemberTest test = GroupTestOver(files);
  EXPECT_TRUE(MatchStringLists("x;Ann@Example.org", "[Staff]", test));  // a single group reference
  EXPECT_TRUE(MatchStringLists("a;b", "c; B ", test));
  EXPECT_FALSE(MatchStringLists("", "[Staff]", test));
}

// A chain of references without a cycle is followed 16 deep; one more and
// the member at its end is no longer admitted.
TEST(Groups, NestingIsFollowedSixteenReferencesDeep) {
  for (const int references : {15, 16, 17}) {
    std::string text;
    for (int g = 0; g < references; ++g)
      text += "[G" + std::to_string(g) + "]\n[G" + std::to_string(g + 1) + "]\n\n";
    text += "[G" + std::to_string(references) + "]\nend@example.org\n";
    MemoryFiles files({{"groups.dat", text}});
    EXPECT_EQ(IsGroupMember("end@example.org", "[g0]", false, files), references <= 16) << references;
  }
}

// Six groups that each name all the others: without the cut at a group
// already on the way the walk would branch five ways 16 deep.
TEST(Groups, FanningCycleEndsAtOnce) {
  std::string text;
  for (int g = 0; g < 6; ++g) {
    text += "[F" + std::to_string(g) + "]\n";
    for (int other = 0; other < 6; ++other)
      if (other != g) text += "[F" + std::to_string(other) + "]\n";
    text += g == 5 ? "end@example.org\n\n" : "\n";
  }
  MemoryFiles files({{"groups.dat", text}});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(IsGroupMember("nobody@example.org", "[f0]", false, files));
  EXPECT_TRUE(IsGroupMember("end@example.org", "[f0]", false, files));
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count(),
            2000);
}

std::uint32_t Number(const std::vector<std::uint8_t>& r, std::size_t at, std::size_t width) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < width; ++i)
    value |= static_cast<std::uint32_t>(r[at + i]) << (8 * i);
  return value;
}
std::string Text(const std::vector<std::uint8_t>& r, std::size_t at) {
  return std::string(reinterpret_cast<const char*>(&r[at + 1]), r[at]);
}

TEST(Defaults, EveryAccountKeyLandsAtItsOffset) {
  std::vector<std::uint8_t> r(2848, 0xEE);
  ApplyDefaultLines(true, r.data(),
                    {"antispamindex = 3",
                     "imap4=1",
                     "allowselfconfiguration=1",
                     "UserType=2",
                     "UserType=3",
                     "RespondWith=7",
                     "RespondWithFile=  reply.txt ",
                     "ValidityWarningFile=warn.txt",
                     "LimitMailboxSize=1",
                     "LimitMailboxSizeValue=70000",
                     "MegabyteSendLimit=12",
                     "NumberSendLimit=131077",
                     "MaxMessageSize=1048576",
                     "LocalMailOnly=1",
                     "ServicesAccessSMTP=0",
                     "ServicesAccessIM=1",
                     "ServicesAccessAV=1",
                     "DeleteMailOlder=1",
                     "DeleteMailOlderValue=30",
                     "IncomingCopy=in@x",
                     "OutgoingCopy=out@x",
                     "ExpiresIfInactive=30",
                     "DeleteAccountWhenExpired=2",
                     "XEnvelopeTo=1",
                     "NoMailingList=1",
                     "AuthMode=2",
                     "AuthModeValue=cn=%s",
                     "SpamFolderMode=4",
                     "# nothing=1",
                     "unknown=5"});
  const struct {
    std::size_t offset, width;
    std::uint32_t value;
  } numbers[] = {
      {2, 2, 3},    {665, 1, 1},       {657, 1, 1},          {1022, 1, 1},        {1284, 1, 1},
      {1293, 1, 7}, {1285, 1, 1},      {1288, 4, 70000},     {1026, 2, 12},       {1018, 2, 2},
      {1024, 2, 5}, {760, 4, 1048576}, {1294, 1, 0b0000011},  // local mail only and the refused SMTP; IM allowed
      {259, 1, 1},  {2320, 1, 1},      {2324, 4, 30},        {660, 4, 30u << 16}, {770, 1, 0},
      {656, 1, 1},  {765, 1, 1},       {664, 1, 2},          {766, 1, 4},         {0, 1, 0}};
  for (const auto& n : numbers)
    EXPECT_EQ(Number(r, n.offset, n.width), n.value) << "offset " << n.offset;
  EXPECT_EQ(Text(r, 1552), "reply.txt");
  EXPECT_EQ(Text(r, 2064), "warn.txt");
  EXPECT_EQ(Text(r, 1808), "in@x");
  EXPECT_EQ(Text(r, 1936), "out@x");
  EXPECT_EQ(Text(r, 900), "cn=%s");

  ApplyDefaultLines(true, r.data(), {"SpamFilter=1", "MailboxType=1"});
  EXPECT_EQ(Number(r, 2, 2), 2u);
  EXPECT_EQ(r[665], 2);
}

// Keys that share a field, each set of lines applied to a fresh record.
TEST(Defaults, SharedBytesServiceBitsAndMailboxTypes) {
  const struct {
    std::vector<std::string> lines;
    std::size_t offset;
    std::uint8_t value;
  } cases[] = {
      {{"Responder=157"}, 1293, 157},  // the whole byte, both halves of it
      {{"RespondWith=5", "Responder=2"}, 1293, 2},
      {{"UserType=1"}, 657, 1},
      {{"UserType=1"}, 1022, 0},
      {{"UserType=4"}, 1284, 0},
      {{"ServicesAccessPOP3IMAP=0"}, 1294, 0x04},
      {{"ServicesAccessPOP3IMAP=1"}, 1294, 0x00},
      {{"ServicesAccessWebMail=0"}, 1294, 0x10},
      {{"ServicesAccessInstantAntiSpam=2"}, 1294, 0x20},
      {{"ServicesAccessCalendar=0"}, 1294, 0x40},
      {{"ServicesAccessChallengeResponse=0"}, 1294, 0x80},
      {{"LocalMailOnly=1", "ServicesAccessCalendar=0", "ServicesAccessChallengeResponse=0", "ServicesAccessCalendar=1"},
       1294,
       0x81},
      {{"IMAP4=7", "MailboxType=0"}, 665, 0},
      {{"IMAP4=7", "MailboxType=2"}, 665, 1},
      {{"IMAP4=7", "MailboxType=3"}, 665, 7},  // not a mailbox type: the byte stays
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> r(2848, 0xEE);
    ApplyDefaultLines(true, r.data(), c.lines);
    EXPECT_EQ(r[c.offset], c.value) << c.lines.front() << " at " << c.offset;
  }
}

// Texts longer than their field are cut to it and never run into the next.
TEST(Defaults, TextsAreCutToTheirFields) {
  const struct {
    bool account;
    const char* key;
    std::size_t offset, capacity;
  } cases[] = {
      {true, "RespondWithFile=", 1552, 127},     {true, "IncomingCopy=", 1808, 127},
      {true, "OutgoingCopy=", 1936, 127},        {true, "AuthModeValue=", 900, 116},
      {true, "ValidityWarningFile=", 2064, 255}, {false, "ForwardUnknownTo=", 641, 234},
      {false, "AdministratorAlias=", 128, 255},
  };
  for (const auto& c : cases) {
    std::vector<std::uint8_t> r(c.account ? 2848 : 913, 0xEE);
    ApplyDefaultLines(c.account, r.data(), {c.key + std::string(300, 'v')});
    EXPECT_EQ(Text(r, c.offset), std::string(c.capacity, 'v')) << c.key;
    EXPECT_EQ(r[c.offset + 1 + c.capacity], 0) << c.key;
  }
}

TEST(Defaults, DomainKeysAndTheRightsText) {
  std::vector<std::uint8_t> d(913, 0xEE);
  ApplyDefaultLines(
      false, d.data(),
      {"AdministratorAlias=admin", "AddministratorEmail=boss@x", "AdministratorEmail=ignored@x", "InfoToAdmin=1",
       "ForwardUnknown=2", "ForwardUnknownTo=catch@x", "DomainAdminLimit=9", "DomainDiskQuota=100",
       "DomainMailboxSize=200", "DomainMBLimit=300", "DomainNumberLimit=400", "DomainMaxMessageSize=500",
       "DomainMIAS=1", "DomainAV=1", "DomainChallengeResponse=1", "AntiSpamIndex=5"});
  EXPECT_EQ(Text(d, 128), "admin");
  EXPECT_EQ(Text(d, 384), "boss@x");
  EXPECT_EQ(Text(d, 641), "catch@x");
  const struct {
    std::size_t offset, width;
    std::uint32_t value;
  } numbers[] = {{897, 1, 1},   {640, 1, 2},   {62, 2, 9},  {57, 4, 100}, {881, 4, 200}, {885, 4, 300},
                 {889, 4, 400}, {893, 4, 500}, {879, 1, 1}, {61, 1, 1},   {878, 1, 1},   {2, 1, 0}};
  for (const auto& n : numbers)
    EXPECT_EQ(Number(d, n.offset, n.width), n.value) << "offset " << n.offset;
  EXPECT_EQ(DomainAdminRightsOf({"x=1", "domainadminrights = 7,9", "DomainAdminRights=12"}), "12");
}

}  // namespace
}  // namespace core
