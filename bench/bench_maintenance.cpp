// Times BackupConfig and RestoreConfig of a configuration folder of 1,000
// domains with 100 accounts each against ilds_tool.exe packing and unpacking
// the same folder with the same routines, in turns, in one run. The exports
// should add no copy and no second walk: target ratio 1.1. ilds_tool is a
// process of its own, so its start (timed with a run that does nothing) is
// also taken off its times for a second ratio.
//
//   bench_maintenance.exe [path\to\ilds_tool.exe]
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "include/Api.h"
#include "tests/support/records.h"

namespace {

constexpr int Domains = 1000, AccountsPerDomain = 100, Rounds = 5;

bool WriteBytes(const std::string& path, const std::string& bytes) {
  return core::WriteFileAtomic(path, bytes.data(), bytes.size());
}

// The installation: settings, domain table, and per domain its record and
// an account file of scrambled records with their own aliases.
bool WriteInstallation(const std::string& config) {
  std::string table;
  for (int d = 0; d < Domains; ++d) {
    const std::string name = "domain" + std::to_string(d) + ".example";
    table += records::DomainEntry(name);
    const std::string folder = config + name + "\\";
    if (!core::ForceDirectory(folder)) return false;
    std::string users;
    for (int a = 0; a < AccountsPerDomain; ++a) {
      const std::string alias = "user" + std::to_string(a);
      users += records::Scrambled(records::NewAccount{.aliases = alias,
                                                      .mailbox = alias,
                                                      .password = "pw" + std::to_string(a * 7919 + d),
                                                      .path = name + "\\" + alias + "\\"}
                                      .Make<std::string>());
    }
    if (!WriteBytes(folder + "domain.cfg", records::Scrambled(std::string(records::DomainSize, '\0'))) ||
        !WriteBytes(folder + "users.cfg", users))
      return false;
  }
  return WriteBytes(config + "settings.cfg", records::SettingsFile(Domains).Scrambled()) &&
         WriteBytes(config + "domains.cfg", table);
}

// Runs the tool with these arguments, its output dropped, and waits; true
// when it answered 0.
bool RunTool(const std::string& tool, const std::string& arguments) {
  std::string command = "\"" + tool + "\" " + arguments;
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const core::UniqueHandle nul(
      CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = nul.get();
  PROCESS_INFORMATION child{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child))
    return false;
  const core::UniqueHandle process(child.hProcess), thread(child.hThread);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(child.hProcess, &code);
  return code == 0;
}

void Report(const char* name, long long ours, long long tool, long long start) {
  bench::Report(name, ours, tool);
  const std::string net = std::string(name) + "_without_tool_start";
  bench::Report(net.c_str(), ours, tool - start);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string tool = argc > 1 ? argv[1] : std::string("Z:") + ILDS_TOOL_PATH;
  const std::string root = bench::TempBenchFolder("maint");
  const std::string config = root + "config\\", ours = root + "ours.ilds", theirs = root + "tool.ilds";
  // Without its last "\": before a closing quote it would escape the quote.
  const std::string folderArgument = "\"" + config.substr(0, config.size() - 1) + "\"";
  if (!WriteInstallation(config)) {
    std::fprintf(stderr, "cannot write the installation under %s\n", root.c_str());
    return 1;
  }
  core::CreateLockTable(true);
  core::InitPlatformUnit();
  int failures = 0;
  if (Init(root.c_str()) != 0 || !RunTool(tool, "acp")) {
    std::fprintf(stderr, "Init failed on %s, or %s does not run\n", root.c_str(), tool.c_str());
    core::DeleteDirectory(root, "*.*", true);
    return 1;
  }
  const long long start = bench::MedianNanoseconds(Rounds, [&] { return RunTool(tool, "acp") ? 1 : 0; });
  const auto [backup, pack] = bench::AlternatingMedians(
      Rounds, [&] { return BackupConfig(ours.c_str()) == 0 ? 1 : failures++; },
      [&] { return RunTool(tool, "pack \"" + theirs + "\" " + folderArgument) ? 1 : failures++; });
  const auto [restore, unpack] = bench::AlternatingMedians(
      Rounds, [&] { return RestoreConfig(ours.c_str()) == 0 ? 1 : failures++; },
      [&] { return RunTool(tool, "unpack \"" + theirs + "\" " + folderArgument) ? 1 : failures++; });
  std::string a, b;
  core::ReadFileToString(ours, false, a);
  core::ReadFileToString(theirs, false, b);
  std::printf("bench_maintenance archive bytes ours=%zu tool=%zu, tool start %lld ns\n", a.size(), b.size(), start);
  Report("bench_maintenance_backup", backup, pack, start);
  Report("bench_maintenance_restore", restore, unpack, start);
  core::DeleteDirectory(root, "*.*", true);
  if (failures != 0 || a != b) {
    std::fprintf(stderr, "%d calls failed, or the archives differ\n", failures);
    return 1;
  }
  return 0;
}
