#include "core/antispam/RuleFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace core {
namespace {

// Counting stand-in of the pattern library: distinct handles, every free
// checked against the live set.
class FakeCompiler : public PatternCompiler {
 public:
  PatternHandle Compile(const std::string& pattern, std::int32_t flags) override {
    std::lock_guard<std::mutex> hold(mutex);
    compiled.emplace_back(pattern, flags);
    if (pattern.find("REFUSE") != std::string::npos || refuseAll) return 0;
    live.insert(++next);
    return next;
  }
  void Free(PatternHandle handle) override {
    std::lock_guard<std::mutex> hold(mutex);
    if (live.erase(handle) != 1) ++badFrees;
  }
  std::mutex mutex;
  std::vector<std::pair<std::string, std::int32_t>> compiled;
  std::set<PatternHandle> live;
  PatternHandle next = 0;
  int badFrees = 0;
  bool refuseAll = false;
};

// In-memory rules folder: path -> content; "!open" cannot be opened, "!io"
// fails after its first line.
class MemoryFolder : public RuleSource {
 public:
  std::vector<std::string> List(const std::string& folder, const std::string& mask) override {
    std::vector<std::string> names;
    for (const auto& [path, content] : files)
      if (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
          path.find('\\', folder.size()) == std::string::npos && WildcardMatch(mask, path.substr(folder.size())))
        names.push_back(path.substr(folder.size()));
    return names;
  }
  RuleReadResult ReadLines(const std::string& path, const std::function<void(std::string_view)>& line) override {
    const auto found = files.find(path);
    if (found == files.end() || found->second == "!open") return RuleReadResult::NotOpened;
    if (found->second.rfind("!io\n", 0) == 0) {
      line(std::string_view(found->second).substr(4, found->second.find('\n', 4) - 4));
      return RuleReadResult::IoError;
    }
    std::string_view rest = found->second;
    while (!rest.empty()) {
      const std::size_t end = rest.find_first_of("\r\n");
      line(rest.substr(0, end));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + (rest.substr(end, 2) == "\r\n" ? 2 : 1));
    }
    return RuleReadResult::Done;
  }
  std::optional<RuleFileStamp> Stamp(const std::string& path) override {
    const auto found = stamps.find(path);
    if (found == stamps.end()) return std::nullopt;
    return found->second;
  }
  std::map<std::string, std::string> files;
  std::map<std::string, RuleFileStamp> stamps;
};

const TSAFilter* Rule(const std::vector<TSAFilter>& rules, std::string_view name) {
  for (const TSAFilter& r : rules)
    if (r.Name == name) return &r;
  return nullptr;
}

struct RuleRow {
  const char* lines;  // one file
  const char* name;   // nullptr: no rule of that name may exist
  int kind, testType, flags;
  const char* text;
  const char* header;
  const char* argument;
  bool negate;
  double score0, score3;
};

TEST(RuleFiles, OneFileRules) {
  const std::string n40(40, 'N');
  const RuleRow rows[] = {
      {"header H_I Subject =~ /free/i", "H_I", 1, 1, 257, "/free/i", "Subject", "", false, 1, 1},
      {"body B_S m{a/b}s", "B_S", 2, 1, 264, "/a/b/s", "", "", false, 1, 1},
      {"uri U_1 /x\\.com/", "U_1", 3, 1, 260, "/x\\.com/", "", "", false, 1, 1},
      {"header M_1 MESSAGEID =~ /^<x/", "M_1", 1, 1, 260, "/^<x/", "MESSAGEID", "", false, 1, 1},
      {"header N_1 From !~ /a/ [if-unset: none]", "N_1", 1, 1, 256, "/a/", "From", "none", true, 1, 1},
      {"header N_2 From =~ /a/ [if-unset: rest", "N_2", 1, 1, 256, "/a/", "From", "rest", false, 1, 1},
      {"body R_1 /x/ # mine is", "R_1", 2, 1, 269, "/x/ # mine is", "", "", false, 1, 1},
      {"body C_1 /a\t\tb  c/", "C_1", 2, 1, 256, "/a b c/", "", "", false, 1, 1},
      {"body BAD1 /abc", nullptr, 0, 0, 0, "", "", "", false, 0, 0},
      {"body BAD2 m{abc", nullptr, 0, 0, 0, "", "", "", false, 0, 0},
      {"body BAD3 m/abc/", nullptr, 0, 0, 0, "", "", "", false, 0, 0},
      {"body BAD4 /REFUSE/", nullptr, 0, 0, 0, "", "", "", false, 0, 0},
      {"body BAD5", nullptr, 0, 0, 0, "", "", "", false, 0, 0},
      {"Body LOWER /a/", nullptr, 0, 0, 0, "", "", "", false, 0, 0},
      {"header E_1 exists:X-Spam:junk", "E_1", 1, 2, 0, "exists:X-Spam:junk", "X-Spam", "", false, 1, 1},
      {"header V_1 eval:check(a, (b))", "V_1", 1, 3, 0, "eval:check(a, (b))", "check", "a, (b)", false, 1, 1},
      {"body V_2 eval:f", "V_2", 2, 3, 0, "eval:f", "f", "", false, 1, 1},
      {"body V_3 eval:g)x(", "V_3", 2, 3, 0, "eval:g)x(", "g)x", "", false, 1, 1},
      {"meta T_M (A && B)\nscore T_M", "T_M", 5, 0, 0, "(A && B)", "", "", false, 0.01, 0.01},
      {"meta \nmeta", nullptr, 0, 0, 0, "", "", "", false, 0, 0},
      {"score S_1 2\nbody S_1 /a/\nscore S_1 1,5", "S_1", 2, 1, 256, "/a/", "", "", false, 1.5, 1.5},
      {"body S_2 /a/\nscore S_2 1 2 3 4", "S_2", 2, 1, 256, "/a/", "", "", false, 1, 4},
      {"body S_3 /a/\nscore S_3 5\nbody S_3 /b/", "S_3", 2, 1, 256, "/b/", "", "", false, 1, 1},
      {"body S_4 /a/\nscore S_4", "S_4", 2, 1, 256, "/a/", "", "", false, 1, 1},
      {"  # body H_2 /a/\nbody   H_3\t/a/", "H_3", 2, 1, 256, "/a/", "", "", false, 1, 1},
      {"body H_4 /a/\nbody H_4 /b", "H_4", 2, 0, 0, "/b", "", "", false, 1, 1},
  };
  for (const RuleRow& row : rows) {
    SCOPED_TRACE(row.lines);
    FakeCompiler compiler;
    MemoryFolder folder;
    folder.files["R\\local.cf"] = row.lines;
    SpamAssassinUnit unit(RuleVariant::Api, compiler);
    unit.LoadSpamAssassinRules(folder, "R", false, false);
    const std::vector<TSAFilter> rules = unit.Rules();
    if (row.name == nullptr) {
      EXPECT_EQ(rules.size(), 0u);
    } else {
      ASSERT_EQ(rules.size(), 1u);
      const TSAFilter& r = rules[0];
      EXPECT_EQ(r.Name, row.name);
      EXPECT_EQ(r.Kind, row.kind);
      EXPECT_EQ(r.TestType, row.testType);
      EXPECT_EQ(r.PatternFlags, row.flags);
      EXPECT_EQ(r.Pattern != 0, row.testType == 1 && row.flags != 0);
      EXPECT_EQ(r.Text, row.text);
      EXPECT_EQ(r.HeaderName, row.header);
      EXPECT_EQ(r.Argument, row.argument);
      EXPECT_EQ(r.Negate, row.negate);
      EXPECT_EQ(r.Scores[0], row.score0);
      EXPECT_EQ(r.Scores[3], row.score3);
    }
    unit.Unload(false);
    EXPECT_TRUE(compiler.live.empty());
    EXPECT_EQ(compiler.badFrees, 0);
  }

  // Names cut to 32 are never found again: each definition adds an entry.
  FakeCompiler compiler;
  MemoryFolder folder;
  folder.files["R\\local.cf"] =
      "body " + n40 + " /a/\nbody " + n40 + " /b/\nscore " + n40 + " 5\ndescribe " + n40 + " x";
  SpamAssassinUnit unit(RuleVariant::Api, compiler);
  unit.LoadSpamAssassinRules(folder, "R", false, false);
  const std::vector<TSAFilter> rules = unit.Rules();
  ASSERT_EQ(rules.size(), 2u);
  EXPECT_EQ(rules[1].Name, n40.substr(0, 32));
  EXPECT_EQ(rules[1].Scores[0], 1.0);
  EXPECT_EQ(unit.FindSpamAssassinRule(n40), -1);
  unit.Unload(false);
  EXPECT_TRUE(compiler.live.empty());
}

TEST(RuleFiles, SettingsAndVariants) {
  MemoryFolder folder;
  folder.files["R\\local.cf"] =
      "blacklist_from A@X.com\nwhitelist_from a@x.com b@y\nunwhitelist_from A@x.COM\n"
      "trusted_networks 10/8 172.16/12 192.168. 172.16.0.0/12\nok_locales en\n"
      "add_header spam Flag YES it is\nadd_header all Level _STARS_\nremove_header all Level\n"
      "report \"\nreport \"quoted\"\nreport_contact me@x\ndns_available maybe\nuse_bayes 0\n"
      "describe D_1 first\nbody D_1 /a/\ndescribe D_1 a   spaced\ttext\nuridnsbl L_1 dnsbl.example. TXT\n"
      "required_score 5\nsubject_tag [SPAM] x";
  for (const RuleVariant variant : {RuleVariant::Api, RuleVariant::Sender}) {
    FakeCompiler compiler;
    SpamAssassinUnit unit(variant, compiler);
    unit.LoadSpamAssassinRules(folder, "R\\", true, false);
    const TSASettings s = unit.Settings();
    ASSERT_EQ(s.Addresses.size(), 3u);
    EXPECT_EQ(s.Addresses[0].Address, "a@x.com");
    EXPECT_FALSE(s.Addresses[0].Removed);  // the black list keeps it
    EXPECT_TRUE(s.Addresses[1].Removed);
    EXPECT_FALSE(s.Addresses[2].Removed);
    EXPECT_EQ(s.TrustedNetworks, (std::vector<std::string>{"10.*.*.*", "172.16.*.*", "192.168.*.*", "172.16.0.0/12"}));
    EXPECT_EQ(s.Charsets, std::vector<std::string>{""});
    ASSERT_EQ(s.AddHeaders.size(), 2u);
    EXPECT_EQ(s.AddHeaders[0].Kind, 0);
    EXPECT_EQ(s.AddHeaders[0].Text, "YES it is");
    EXPECT_TRUE(s.AddHeaders[1].Removed);
    EXPECT_EQ(s.ReportTemplate, "\r\nquoted\r\n");
    EXPECT_EQ(s.ReportContact, "me@x");
    EXPECT_TRUE(s.DnsAvailable);
    EXPECT_FALSE(s.UseBayes);
    EXPECT_EQ(s.UseSurbl, variant == RuleVariant::Api);
    EXPECT_EQ(s.RequiredHits, 3.0);
    EXPECT_EQ(s.RblTimeout, 15);
    EXPECT_EQ(s.SubjectTag, "[SPAM] x");
    const std::vector<TSAFilter> rules = unit.Rules();
    ASSERT_NE(Rule(rules, "D_1"), nullptr);
    EXPECT_EQ(Rule(rules, "D_1")->Description, "a spaced text");
    const TSAFilter* list = Rule(rules, "L_1");
    if (variant == RuleVariant::Api) {
      ASSERT_NE(list, nullptr);
      EXPECT_EQ(list->ListKind, 1);
      EXPECT_EQ(list->ListName, "dnsbl.example. TXT");
      EXPECT_EQ(list->TestType, 3);
    } else {
      EXPECT_EQ(list, nullptr);
    }
    unit.ClearSpamAssassinRules();
    EXPECT_EQ(unit.Settings().UseBayes, variant == RuleVariant::Api);
    EXPECT_TRUE(compiler.live.empty());
  }
  FakeCompiler compiler;
  SpamAssassinUnit unit(RuleVariant::Api, compiler);
  unit.ParseSpamAssassinLine("ok_locales ja");
  const std::vector<std::string> ja = unit.Settings().Charsets;
  ASSERT_EQ(ja.size(), 16u);
  EXPECT_EQ(ja[0], "eucjp");
  unit.ParseSpamAssassinLine("ok_locales ja all ru");
  EXPECT_TRUE(unit.Settings().Charsets.empty());
}

TEST(RuleFiles, ChangeCheckAndFileOrder) {
  FakeCompiler compiler;
  MemoryFolder folder;
  SpamAssassinUnit unit(RuleVariant::Api, compiler);
  folder.files["R\\20_a.cf"] = "body A /a/\nscore A 2";
  folder.files["R\\10_b.cf"] = "score A 9\nbody B /b/";
  folder.files["R\\Custom\\x.txt"] = "score A 3";
  folder.files["R\\Custom\\sub"] = "!open";
  folder.files["R\\x.cf"] = "body X /x/";
  const auto scoreA = [&] { return unit.Rules().empty() ? 0.0 : Rule(unit.Rules(), "A")->Scores[0]; };
  unit.LoadSpamAssassinRules(folder, "R", true, false);  // no local.cf: the first load still loads
  EXPECT_EQ(unit.RuleCount(), 2u);
  EXPECT_EQ(scoreA(), 3.0);
  folder.files["R\\20_a.cf"] = "body A /a/";
  unit.LoadSpamAssassinRules(folder, "R", true, true);  // unchanged: table kept
  EXPECT_EQ(scoreA(), 3.0);
  folder.files["R\\local.cf"] = "score A 4";
  folder.stamps["R\\local.cf"] = {1000, 9};
  unit.LoadSpamAssassinRules(folder, "R", true, true);
  EXPECT_EQ(scoreA(), 4.0);
  folder.files["R\\local.cf"] = "score A 5";
  folder.stamps["R\\local.cf"] = {1001, 9};  // 100 ns later, one DOS tick
  unit.LoadSpamAssassinRules(folder, "R", true, true);
  EXPECT_EQ(scoreA(), 5.0);
  folder.stamps["R\\local.cf"] = {1001, 10};
  folder.files["R\\local.cf"] = "score A 6";
  unit.LoadSpamAssassinRules(folder, "R", true, true);
  EXPECT_EQ(scoreA(), 6.0);
  // Another folder whose local.cf has the same stamp.
  folder.files["S\\local.cf"] = "body Z /z/";
  folder.stamps["S\\local.cf"] = {1001, 10};
  unit.LoadSpamAssassinRules(folder, "S", true, true);
  EXPECT_EQ(unit.RuleCount(), 1u);
  // An I/O error ends that file only, and the next load is not skipped.
  folder.files["R\\10_b.cf"] = "!io\nbody B /b/";
  folder.files["R\\20_a.cf"] = "body A /a/\nbody C /c/";
  unit.LoadSpamAssassinRules(folder, "R", true, true);
  EXPECT_EQ(unit.RuleCount(), 3u);
  folder.files["R\\10_b.cf"] = "body B /b/\nbody D /d/";
  unit.LoadSpamAssassinRules(folder, "R", true, true);
  EXPECT_EQ(unit.RuleCount(), 4u);
  unit.Unload(false);
  EXPECT_TRUE(compiler.live.empty());
  EXPECT_EQ(compiler.badFrees, 0);
}

TEST(RuleFiles, HostileFilesAndThreads) {
  FakeCompiler compiler;
  MemoryFolder folder;
  std::string big = "body BIG /" + std::string(1 << 20, 'a') + "/";
  big[500] = '\0';
  folder.files["R\\local.cf"] =
      "\xEF\xBB\xBF"
      "body BOM /a/\rbody CR /b/\r" +
      big + "\n" + "score " + std::string(1 << 20, ' ') + "x\n" + std::string(1 << 20, '/');
  const auto start = std::chrono::steady_clock::now();
  SpamAssassinUnit unit(RuleVariant::Api, compiler);
  unit.LoadSpamAssassinRules(folder, "R", false, false);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  const std::vector<TSAFilter> rules = unit.Rules();
  EXPECT_EQ(rules.size(), 2u);  // CR and BIG; the marked keyword is unknown
  EXPECT_NE(Rule(rules, "CR"), nullptr);

  // Loads without the check against readers of copies.
  folder.files["R\\local.cf"] = "body A /a/\nbody A /b/\nmeta M A\nscore A 2";
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i)
        unit.LoadSpamAssassinRules(folder, "R", false, false);
    });
  threads.emplace_back([&] {
    for (int i = 0; i < 200; ++i) {
      const std::vector<TSAFilter> copy = unit.Rules();
      EXPECT_TRUE(copy.empty() || copy.size() == 2u);
    }
  });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(compiler.live.size(), 1u);  // the redefinition freed its first pattern
  unit.Unload(false);
  EXPECT_TRUE(compiler.live.empty());
  EXPECT_EQ(compiler.badFrees, 0);
}

}  // namespace
}  // namespace core
