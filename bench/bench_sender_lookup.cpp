// The sending library's account lookup over 100,000 accounts (285 MB of
// "users.cfg", in the system's file cache): the last account found by its
// address without the cache, against one large-block read plus the
// unscrambling XOR of the same file; then 1,000 accounts asked for again
// from the account cache, against a hash map of the same keys. Runs under
// Wine; writes the sending library's registry value while it runs.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/startup/LibraryStart.h"
#include "sender/config/SendingConfig.h"
#include "tests/support/records.h"

namespace {

constexpr std::uint32_t Accounts = 100000;
constexpr int WarmKeys = 1000;

}  // namespace

int main() {
  core::StartLibraryUnits(core::SendingProfile);
  const std::string root = bench::TempBenchFolder("sender-lookup");
  const std::string config = root + "config\\";
  CreateDirectoryA(config.c_str(), nullptr);
  CreateDirectoryA((config + "a.test").c_str(), nullptr);
  records::SettingsFile settings(1);
  settings.U8(records::settings::FirstProcessor, 0);
  const std::string settingsBytes = settings.Scrambled();
  const std::string domains = records::DomainEntry("a.test");
  core::WriteFileAtomic(config + "settings.cfg", settingsBytes.data(), settingsBytes.size());
  core::WriteFileAtomic(config + "domains.cfg", domains.data(), domains.size());
  // Record i has the alias "user<i>".
  const std::string users = config + "a.test\\users.cfg";
  bench::WriteAccountFile(users, Accounts, [](std::uint32_t i, std::uint8_t* r) {
    bench::PutText(r, records::user::Aliases, "user" + std::to_string(i));
  });
  const bench::MachineText installDir(sender::SendingInstallKey, sender::InstallDirValue, root);
  if (!sender::LoadSendingConfig()) return 1;

  bench::ReadAndUnscrambleSum(users);  // warm the system's cache
  core::AccountRecordBytes record{};
  const auto [cold, raw] = bench::AlternatingMedians(
      5, [&] { return sender::FindAccountByAddress("user99999@a.test", record, false) ? 1 : 0; },
      [&] { return bench::ReadAndUnscrambleSum(users); });
  bench::Report("sender_lookup_last_of_100000", cold, raw);

  // The first 1,000 accounts, stored in the cache once.
  std::vector<std::string> addresses;
  std::unordered_map<std::string, core::AccountRecordBytes> map;
  for (int i = 0; i < WarmKeys; ++i) {
    addresses.push_back("user" + std::to_string(i) + "@a.test");
    sender::FindAccountByAddress(addresses.back(), record, true);
    map.emplace("user" + std::to_string(i) + "|a.test", record);
  }
  const auto [warm, hashed] = bench::AlternatingMedians(
      5,
      [&] {
        int found = 0;
        for (const std::string& address : addresses)
          found += sender::FindAccountByAddress(address, record, true) ? 1 : 0;
        return found;
      },
      [&] {
        int found = 0;
        for (int i = 0; i < WarmKeys; ++i) {
          const std::string key = "user" + std::to_string(i) + "|a.test";
          const auto hit = map.find(key);
          if (hit != map.end()) {
            record = hit->second;
            ++found;
          }
        }
        return found;
      });
  bench::Report("sender_lookup_1000_cached", warm, hashed);
  core::DeleteDirectory(root, "*.*", true);
  return 0;
}
