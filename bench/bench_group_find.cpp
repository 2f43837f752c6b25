// FindAccountIndex over 10,000 accounts, a tenth of them with a group
// reference, against a 1,000-line "groups.dat", compared with the same scan
// over accounts without groups. "groups.dat" is parsed again only when it
// changes, so the difference is the membership walks themselves. Under Wine.
#include <windows.h>

#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/accounts/AccountStore.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainTable.h"
#include "core/lists/AccountLists.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "tests/support/records.h"

namespace {

constexpr int Accounts = 10000;

void WriteUsers(const std::string& path, bool withGroups) {
  std::string all;
  for (int i = 0; i < Accounts; ++i) {
    std::string aliases = "user" + std::to_string(i);
    if (withGroups && i % 10 == 0) aliases += ";[Group" + std::to_string(i % 50) + "]";
    all += records::Scrambled(records::NewAccount{.aliases = aliases}.Make<std::string>());
  }
  core::WriteFileAtomic(path, all.data(), all.size());
}

}  // namespace

int main() {
  core::CreateLockTable(true);
  core::InstallListHooks();
  const std::string config = bench::TempBenchFolder("groups");
  CreateDirectoryA((config + "a.test").c_str(), nullptr);
  core::SetConfigFolder(config);
  core::DomainListAdd("a.test");
  std::string groups;
  for (int g = 0; g < 50; ++g) {
    groups += "[Group" + std::to_string(g) + "]\r\n";
    for (int m = 0; m < 19; ++m)
      groups += "member" + std::to_string(g * 19 + m) + "@example.org\r\n";
    groups += "\r\n";
  }
  core::WriteFileAtomic(config + "groups.dat", groups.data(), groups.size());

  const std::string users = config + "a.test\\users.cfg";
  WriteUsers(users, false);
  const long long plain = bench::MedianNanoseconds(5, [] { return core::FindAccountIndex(0, "nobody@example.org"); });
  WriteUsers(users, true);
  const long long grouped = bench::MedianNanoseconds(5, [] { return core::FindAccountIndex(0, "nobody@example.org"); });
  bench::Report("find_account_with_groups", grouped, plain);
  core::DeleteDirectory(config, "*.*", true);
  return 0;
}
