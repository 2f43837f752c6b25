// The login of the last of 10,000 accounts in one domain (28.5 MB of
// "users.cfg", warm cache) without the account cache, against the bare
// lookup of the same account (FindAccountIndex plus a read of its record);
// then the repeated login served by the cache walk against the same
// baseline. Runs under Wine.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

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
constexpr std::size_t RecordSize = 2848;
constexpr std::uint8_t Key[16] = {0x3C, 0x91, 0xE0, 0x7A, 0x55, 0xD2, 0x18, 0x8B,
                                  0xF4, 0x6A, 0x0D, 0x27, 0xC3, 0xB9, 0xE1, 0x50};

void PutText(std::uint8_t* record, std::size_t offset, const std::string& text) {
  record[offset] = static_cast<std::uint8_t>(text.size());
  std::copy(text.begin(), text.end(), record + offset + 1);
}

}  // namespace

int main() {
  core::CreateLockTable(true);
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string config = std::string(temp) + "vmbench-auth-" + std::to_string(GetCurrentProcessId()) + "\\";
  CreateDirectoryA(config.c_str(), nullptr);
  CreateDirectoryA((config + "a.test").c_str(), nullptr);
  core::SetConfigFolder(config);
  core::DomainListAdd("a.test");

  // Record i: alias and mailbox name "user<i>", password "pw<i>", its own mailbox path.
  std::vector<std::uint8_t> all(static_cast<std::size_t>(Accounts) * RecordSize, 0);
  for (std::uint32_t i = 0; i < Accounts; ++i) {
    std::uint8_t* r = all.data() + static_cast<std::size_t>(i) * RecordSize;
    PutText(r, 260, "user" + std::to_string(i));
    PutText(r, 516, "user" + std::to_string(i));
    PutText(r, 772, "pw" + std::to_string(i));
    PutText(r, 1028, config + "mail\\user" + std::to_string(i) + "\\");
    for (std::size_t b = 0; b < RecordSize; ++b)
      r[b] ^= Key[b % 16];
  }
  core::WriteFileAtomic(config + "a.test\\users.cfg", all.data(), all.size());
  all.clear();
  all.shrink_to_fit();

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
