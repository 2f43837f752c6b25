// FindAccountIndex over 100,000 accounts (285 MB of "users.cfg", warm cache)
// against one large-block read plus the unscrambling XOR of the same file,
// the physical limit of the search; and the deletion of one account (a copy
// of every other record, moved over the file) against CopyFileA of the file.
// Runs under Wine.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/accounts/AccountStore.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainTable.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "tests/support/records.h"

namespace {

constexpr std::uint32_t Accounts = 100000;

}  // namespace

int main() {
  core::CreateLockTable(true);
  const std::string config = bench::TempBenchFolder("accounts");
  CreateDirectoryA((config + "a.test").c_str(), nullptr);
  core::SetConfigFolder(config);
  core::DomainListAdd("a.test");

  // Record i has the alias "user<i>".
  const std::string users = config + "a.test\\users.cfg";
  bench::WriteAccountFile(users, Accounts, [](std::uint32_t i, std::uint8_t* r) {
    bench::PutText(r, records::user::Aliases, "user" + std::to_string(i));
  });

  bench::ReadAndUnscrambleSum(users);  // warm the cache
  const long long find = bench::MedianNanoseconds(5, [] { return core::FindAccountIndex(0, "user99999"); });
  const long long raw = bench::MedianNanoseconds(5, [&] { return bench::ReadAndUnscrambleSum(users); });
  bench::Report("find_account_last_of_100000", find, raw);

  const std::string copy = config + "copy.cfg";
  const long long deleted = bench::MedianNanoseconds(3, [] { return core::DeleteAccountRecord(0, 0) ? 1 : 0; });
  const long long copied = bench::MedianNanoseconds(3, [&] { return CopyFileA(users.c_str(), copy.c_str(), FALSE); });
  bench::Report("delete_account_of_100000", deleted, copied);
  core::DeleteDirectory(config, "*.*", true);
  return 0;
}
