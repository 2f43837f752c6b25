// The login of the last of 10,000 accounts in one domain (28.5 MB of
// "users.cfg", warm cache) without the account cache, against the bare
// lookup of the same account (FindAccountIndex plus a read of its record);
// then the repeated login served by the cache walk against the same
// baseline. Runs under Wine.
#include <windows.h>

#include <cstdint>
#include <string>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/accounts/AccountCache.h"
#include "core/accounts/AccountStore.h"
#include "core/auth/Authenticate.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainTable.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"

namespace {
constexpr std::uint32_t Accounts = 10000;
}  // namespace

int main() {
  core::CreateLockTable(true);
  const std::string config = bench::TempBenchFolder("auth");
  CreateDirectoryA((config + "a.test").c_str(), nullptr);
  core::SetConfigFolder(config);
  core::DomainListAdd("a.test");

  // Record i: alias and mailbox name "user<i>", password "pw<i>", its own
  // mailbox path.
  bench::WriteAccountFile(config + "a.test\\users.cfg", Accounts, [&](std::uint32_t i, std::uint8_t* r) {
    const std::string name = "user" + std::to_string(i);
    bench::PutText(r, 260, name);
    bench::PutText(r, 516, name);
    bench::PutText(r, 772, "pw" + std::to_string(i));
    bench::PutText(r, 1028, config + "mail\\" + name + "\\");
  });

  const std::string last = "user" + std::to_string(Accounts - 1);
  const std::string password = "pw" + std::to_string(Accounts - 1);
  auto login = [&](bool cached) {
    core::LoginAttempt attempt;
    attempt.login = last;
    attempt.password = password;
    attempt.noDelay = true;
    attempt.useCache = cached;
    core::AccountRecordBytes record{};
    std::string domain;
    return core::AuthenticateAccount(attempt, record, domain) ? 1 : 0;
  };
  auto bare = [&] {
    core::AccountRecordBytes record{};
    return core::ReadAccountRecord(0, record, core::FindAccountIndex(0, last));
  };

  bare();  // warm the file cache
  const auto [search, lookup] = bench::AlternatingMedians(
      9, [&] { return login(false); }, bare);
  bench::Report("login_last_of_10000_no_cache", search, lookup);

  core::SizeAccountCache(1000);
  login(true);  // the first login fills the cache
  const auto [cached, lookup2] = bench::AlternatingMedians(
      9, [&] { return login(true); }, bare);
  bench::Report("login_repeated_from_cache", cached, lookup2);

  core::FreeAccountCache();
  core::DeleteDirectory(config, "*.*", true);
  return 0;
}
