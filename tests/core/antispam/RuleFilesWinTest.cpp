// The rules folder and "regex.dll" under Wine. One process per stand-in
// variant (REGEX_TEST_VARIANT), since the library binds once per process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <thread>

#include "core/antispam/RuleFilesWin.h"
#include "tests/support/installation.h"

namespace {

using testinst::ReadAll;
using testinst::WriteAll;

struct Log {
  std::map<std::string, int> compiled, freed;  // handle -> count
  int errors = 0, execs = 0, most = 0, refusedOrZero = 0;
};

Log ReadLog(const std::string& name) {
  Log log;
  std::istringstream in(ReadAll(name));
  std::string kind, handle;
  while (in >> kind) {
    if (kind == "X") {
      ++log.execs;
      continue;
    }
    in >> handle;
    if (kind == "C") {
      std::string flags, hex;
      in >> flags;
      std::getline(in, hex);
      if (handle == "0")
        ++log.refusedOrZero;
      else
        ++log.compiled[handle];
    } else if (kind == "F") {
      ++log.freed[handle];
    } else if (kind == "E") {
      ++log.errors;
    } else if (kind == "M") {
      log.most = std::max(log.most, std::atoi(handle.c_str()));
    }
  }
  return log;
}

TEST(RuleFilesWin, BindingFilesAndHandles) {
  const char* variantText = std::getenv("REGEX_TEST_VARIANT");
  const std::string variant = variantText != nullptr ? variantText : "full";
  testinst::Installation inst("rules");
  const std::string rules = inst.root + "rules\\", logName = inst.root + "regex.log";
  CreateDirectoryA(rules.c_str(), nullptr);
  CreateDirectoryA((rules + "Custom\\").c_str(), nullptr);
  CreateDirectoryA((inst.root + "cwd\\").c_str(), nullptr);
  const std::string source =
      std::string(REGEX_STANDIN_DIR) + "\\" + (variant == "cwd" ? "full" : variant) + "\\regex.dll";
  const std::string target = variant == "cwd" ? inst.root + "cwd\\regex.dll" : inst.root + "regex.dll";
  ASSERT_TRUE(CopyFileA(source.c_str(), target.c_str(), FALSE)) << source;
  if (variant == "cwd") {
    // Wine reuses process ids, so an earlier run's root may be this one, its
    // loaded library never deleted: the library must be in the current folder only.
    DeleteFileA((inst.root + "regex.dll").c_str());
    char self[MAX_PATH] = {};
    std::string beside(self, GetModuleFileNameA(nullptr, self, MAX_PATH));
    beside = beside.substr(0, beside.find_last_of('\\') + 1) + "regex.dll";
    ASSERT_EQ(GetFileAttributesA((inst.root + "regex.dll").c_str()), INVALID_FILE_ATTRIBUTES);
    ASSERT_EQ(GetFileAttributesA(beside.c_str()), INVALID_FILE_ATTRIBUTES);
  }
  SetCurrentDirectoryA((inst.root + "cwd\\").c_str());
  core::SetRootFolder(inst.root);
  SetEnvironmentVariableA("REGEX_STANDIN_LOG", logName.c_str());
  SetEnvironmentVariableA("REGEX_STANDIN_REFUSE", "REFUSED");

  WriteAll(rules + "10_crlf.cf", "body A /a/i\r\nheader B Subject =~ /b/\r\nmeta M (A && B)\r\n");
  WriteAll(rules + "20_cr.cf", "uri C /c/\rbody REF /REFUSED/\rscore A 2\r");
  WriteAll(rules + "Custom\\mine", "body D m{d}s\n");
  WriteAll(rules + "local.cf", "score A 3\n");
  const bool compiles = variant == "full" || variant == "cdecl";
  const std::size_t full = compiles ? 5 : 1;  // A, B, M, C, D; without patterns M alone

  EXPECT_TRUE(core::LoadSpamAssassinRules(core::RuleVariant::Api, rules, true, false));
  core::SpamAssassinUnit& unit = core::RulesUnit(core::RuleVariant::Api);
  EXPECT_EQ(unit.RuleCount(), full);
  if (compiles) {
    EXPECT_EQ(unit.Rules()[0].Scores[0], 3.0);
    EXPECT_EQ(unit.Rules()[0].PatternFlags, 257);
  }

  // A byte range locked behind the reader: that file ends, the others load,
  // and the next load (lock gone) is not skipped by the change check.
  HANDLE held = CreateFileA((rules + "20_cr.cf").c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(LockFile(held, 0, 0, 100, 0));
  core::LoadSpamAssassinRules(core::RuleVariant::Api, rules, false, false);
  // Wine lets this process's other handle read the locked range anyway.
  const bool lockHeld = unit.RuleCount() != full;
  EXPECT_EQ(unit.RuleCount(), compiles && lockHeld ? 4u : full);
  UnlockFile(held, 0, 0, 100, 0);
  CloseHandle(held);
  core::LoadSpamAssassinRules(core::RuleVariant::Api, rules, true, false);
  EXPECT_EQ(unit.RuleCount(), full);

  // An edit of local.cf within one two-second tick and of equal size reloads.
  FILETIME before;
  HANDLE local =
      CreateFileA((rules + "local.cf").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  GetFileTime(local, nullptr, nullptr, &before);
  CloseHandle(local);
  WriteAll(rules + "local.cf", "score A 4\n");
  ULARGE_INTEGER moved{{before.dwLowDateTime, before.dwHighDateTime}};
  moved.QuadPart = (moved.QuadPart / 40000000 * 40000000) + 10000000;  // 1 s into an even tick
  FILETIME after{moved.LowPart, moved.HighPart};
  local = CreateFileA((rules + "local.cf").c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                      nullptr);
  SetFileTime(local, nullptr, nullptr, &after);
  CloseHandle(local);
  core::LoadSpamAssassinRules(core::RuleVariant::Api, rules, true, false);
  moved.QuadPart += 10000000;
  after = FILETIME{moved.LowPart, moved.HighPart};
  WriteAll(rules + "local.cf", "score A 5\n");
  local = CreateFileA((rules + "local.cf").c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                      nullptr);
  SetFileTime(local, nullptr, nullptr, &after);
  CloseHandle(local);
  core::LoadSpamAssassinRules(core::RuleVariant::Api, rules, true, false);
  if (compiles) {
    EXPECT_EQ(unit.Rules()[0].Scores[0], 5.0);
  }

  // Loads on several threads: never two inside recomp.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 5; ++i)
        core::LoadSpamAssassinRules(core::RuleVariant::Api, rules, false, false);
    });
  for (std::thread& t : threads)
    t.join();
  core::UnloadSpamAssassinRules(core::RuleVariant::Api);

  const Log log = ReadLog(logName);
  EXPECT_EQ(log.errors, 0);
  EXPECT_EQ(log.execs, 0);
  EXPECT_LE(log.most, 1);
  if (!compiles && variant != "zero") {
    EXPECT_TRUE(log.compiled.empty() && log.refusedOrZero == 0);
  }
  if (compiles) {
    EXPECT_EQ(log.compiled.size(), lockHeld ? 99u : 96u);
  }
  for (const auto& [handle, count] : log.compiled) {
    EXPECT_EQ(count, 1) << handle;
    EXPECT_EQ(log.freed.count(handle) == 1 ? log.freed.at(handle) : 0, 1) << handle;
  }
  SetCurrentDirectoryA(inst.root.c_str());
}

}  // namespace
