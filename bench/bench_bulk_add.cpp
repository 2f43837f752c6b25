// 10,000 AddUser calls into one domain (beside a second domain with 1,000
// accounts), each timed on its own, interleaved with the baseline: opening
// a file, appending one 2,848-byte record and closing it. Prints the last
// 1,000 adds against the first 1,000 (a check that walks the accounts
// grows with them) and the mean add against the mean append. Then the mean
// add into an installation of 50 domains against one of a single domain
// (a check that looks at every domain grows with them), and, at 50 domains,
// the mean add against the same adds with the installation lock's hold
// skipped (its cost). Runs under Wine.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "core/platform/Files.h"
#include "core/platform/InstallationLock.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "include/Api.h"
#include "tests/support/records.h"

namespace {

constexpr int Adds = 10000;
constexpr int Window = 1000;
constexpr int OtherAccounts = 1000;
std::vector<std::uint8_t> Account(const std::string& alias) {
  return records::NewAccount{.aliases = alias + ";" + alias + ".alt", .password = "pw-" + alias}
      .Make<std::vector<std::uint8_t>>();
}

long long Nanoseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
}

bool Append(const std::string& path, const std::vector<std::uint8_t>& record) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written = 0;
  const BOOL ok = WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  return ok != 0;
}

void WriteSettings(const std::string& root) {
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA((root + "config\\").c_str(), nullptr);
  const std::string settings = records::SettingsFile().Scrambled();
  core::WriteFileAtomic(root + "config\\settings.cfg", settings.data(), settings.size());
}

// An installation of `domains` domains with 20 accounts each; answers the
// name of the last one (where the measured adds go).
std::string MakeInstallation(const std::string& root, int domains) {
  WriteSettings(root);
  std::vector<std::uint8_t> domain(API_DOMAIN_RECORD_SIZE, 0);
  if (Init(root.c_str()) != 0) return {};
  std::string name;
  for (int d = 0; d < domains; ++d) {
    name = "d" + std::to_string(d) + ".example";
    if (AddDomain(name.c_str(), domain.data(), API_DOMAIN_RECORD_SIZE) != 0) return {};
    for (int a = 0; a < 20; ++a)
      AddUser(name.c_str(), Account("u" + std::to_string(a) + "x" + std::to_string(d)).data(), API_ACCOUNT_RECORD_SIZE);
  }
  return name;
}

// Mean of `count` adds into the domain, starting at alias number `first`.
long long MeanAdd(const std::string& domain, int first, int count, int& failed) {
  long long sum = 0;
  for (int i = first; i < first + count; ++i) {
    const std::vector<std::uint8_t> record = Account("m" + std::to_string(i));
    const auto start = std::chrono::steady_clock::now();
    failed += AddUser(domain.c_str(), record.data(), API_ACCOUNT_RECORD_SIZE) != 0;
    sum += Nanoseconds(std::chrono::steady_clock::now() - start);
  }
  return sum / count;
}

// The 50-domain and the lock-cost comparisons (each in an installation of
// its own, adds alternating in blocks so that the machine's load touches
// both sides alike).
int DomainsAndLock(const std::string& temp) {
  constexpr int Blocks = 8, PerBlock = 250;
  const std::string one = temp + "vmbench-one-" + std::to_string(GetCurrentProcessId()) + "\\";
  const std::string fifty = temp + "vmbench-fifty-" + std::to_string(GetCurrentProcessId()) + "\\";
  const std::string oneDomain = MakeInstallation(one, 1);
  const std::string fiftyDomain = MakeInstallation(fifty, 50);
  if (oneDomain.empty() || fiftyDomain.empty()) {
    std::fprintf(stderr, "cannot set up the installations in %s\n", temp.c_str());
    return 1;
  }
  int failed = 0;
  long long atOne = 0, atFifty = 0, held = 0, skipped = 0;
  for (int b = 0; b < Blocks; ++b) {
    Init(one.c_str());
    atOne += MeanAdd(oneDomain, b * PerBlock, PerBlock, failed);
    Init(fifty.c_str());
    atFifty += MeanAdd(fiftyDomain, b * PerBlock, PerBlock, failed);
    held += MeanAdd(fiftyDomain, 100000 + b * PerBlock, PerBlock, failed);
    core::SetInstallationHoldSkipped(true);
    skipped += MeanAdd(fiftyDomain, 200000 + b * PerBlock, PerBlock, failed);
    core::SetInstallationHoldSkipped(false);
  }
  bench::Report("bulk_add_50_domains_vs_1", atFifty / Blocks, atOne / Blocks);
  bench::Report("bulk_add_lock_vs_hold_skipped", held / Blocks, skipped / Blocks);
  if (failed != 0) std::printf("%d calls failed\n", failed);
  Done();
  core::DeleteDirectory(one, "*.*", true);
  core::DeleteDirectory(fifty, "*.*", true);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main() {
  core::CreateLockTable(true);
  core::InitPlatformUnit();
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string root = std::string(temp) + "vmbench-bulk-" + std::to_string(GetCurrentProcessId()) + "\\";
  WriteSettings(root);

  std::vector<std::uint8_t> domain(API_DOMAIN_RECORD_SIZE, 0);
  if (Init(root.c_str()) != 0 || AddDomain("other.example", domain.data(), API_DOMAIN_RECORD_SIZE) != 0 ||
      AddDomain("bulk.example", domain.data(), API_DOMAIN_RECORD_SIZE) != 0) {
    std::fprintf(stderr, "cannot set up the installation in %s\n", root.c_str());
    return 1;
  }
  for (int i = 0; i < OtherAccounts; ++i)
    AddUser("other.example", Account("other" + std::to_string(i)).data(), API_ACCOUNT_RECORD_SIZE);

  std::vector<long long> ours, baseline;
  const std::string plain = root + "plain.bin";
  int failed = 0;
  for (int i = 0; i < Adds; ++i) {
    const std::vector<std::uint8_t> record = Account("user" + std::to_string(i));
    auto start = std::chrono::steady_clock::now();
    failed += AddUser("bulk.example", record.data(), API_ACCOUNT_RECORD_SIZE) != 0;
    ours.push_back(Nanoseconds(std::chrono::steady_clock::now() - start));
    start = std::chrono::steady_clock::now();
    failed += !Append(plain, record);
    baseline.push_back(Nanoseconds(std::chrono::steady_clock::now() - start));
  }
  auto mean = [](const std::vector<long long>& v, std::size_t from, std::size_t count) {
    long long sum = 0;
    for (std::size_t i = from; i < from + count; ++i)
      sum += v[i];
    return sum / static_cast<long long>(count);
  };
  bench::Report("bulk_add_last1000_vs_first1000", mean(ours, Adds - Window, Window), mean(ours, 0, Window));
  bench::Report("bulk_add_mean_vs_append", mean(ours, 0, Adds), mean(baseline, 0, Adds));
  if (failed != 0) std::printf("%d calls failed\n", failed);
  Done();
  core::DeleteDirectory(root, "*.*", true);
  const int more = DomainsAndLock(temp);
  return failed == 0 && more == 0 ? 0 : 1;
}
