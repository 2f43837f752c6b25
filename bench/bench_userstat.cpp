// The statistics report of a year over 1,000 accounts in 10 domains (365
// day records and 10 message files of 1-64 KB each) against one bare
// recursive walk of the mail folder plus whole reads of every statistics
// file. With a filter naming the ten domains the report walks each mailbox
// once; with "*" the server-wide line walks the whole tree again. Under Wine.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/accounts/AccountRecord.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainTable.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/userstat/StatFiles.h"
#include "tests/support/records.h"

namespace {

constexpr int Domains = 10;
constexpr int AccountsPerDomain = 100;

// A message file of the given size without writing its bytes.
void SizedFile(const std::string& name, LONG size) {
  const core::UniqueHandle file(
      CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  SetFilePointer(file.get(), size, nullptr, FILE_BEGIN);
  SetEndOfFile(file.get());
}

void Install(const std::string& config, const std::string& mail) {
  std::string year(365 * 32, '\0');
  for (int d = 0; d < 365; ++d) {
    const double day = 44927 + d;  // 2023-01-01 on
    std::memcpy(year.data() + d * 32, &day, 8);
    for (int c = 0; c < 6; ++c)
      std::memcpy(year.data() + d * 32 + 8 + c * 4, &d, 4);
  }
  const double times[3] = {45000.25, 45001.5, 45002.75};
  // The server-wide pair, so the "-" line has days in the range too.
  core::ForceDirectory(mail);
  core::WriteFileAtomic(mail + "userstat.dat", year.data(), year.size());
  core::WriteFileAtomic(mail + "useraccess.dat", times, sizeof times);
  for (int d = 0; d < Domains; ++d) {
    const std::string domain = "domain" + std::to_string(d) + ".test";
    core::DomainListAdd(domain);
    core::ForceDirectory(config + domain);
    std::string users;
    for (int a = 0; a < AccountsPerDomain; ++a) {
      const std::string path = domain + "\\user" + std::to_string(a);
      users += records::Scrambled(
          records::NewAccount{.aliases = "user" + std::to_string(a), .path = path}.Make<std::string>());
      const std::string box = mail + path + "\\";
      core::ForceDirectory(box + "inbox");
      core::WriteFileAtomic(box + "userstat.dat", year.data(), year.size());
      core::WriteFileAtomic(box + "useraccess.dat", times, sizeof times);
      for (int m = 0; m < 10; ++m)
        SizedFile(box + (m < 5 ? "" : "inbox\\") + std::to_string(m) + ".imap", 1024 * (1 + (a * 7 + m * 13) % 64));
    }
    core::WriteFileAtomic(config + domain + "\\users.cfg", users.data(), users.size());
  }
}

// The baseline: every entry of the tree found, every statistics file read.
std::uint64_t WalkAndRead(const std::string& folder) {
  std::uint64_t total = 0;
  WIN32_FIND_DATAA entry{};
  const core::UniqueFindHandle search(FindFirstFileA((folder + "*").c_str(), &entry));
  if (!search) return 0;
  do {
    const std::string name = entry.cFileName;
    if (name == "." || name == "..") continue;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      total += WalkAndRead(folder + name + "\\");
    } else if (name == "userstat.dat" || name == "useraccess.dat") {
      std::string data;
      core::ReadFileBytes(folder + name, 0, SIZE_MAX, data);
      total += data.size();
    } else {
      total += entry.nFileSizeLow;
    }
  } while (FindNextFileA(search.get(), &entry));
  return total;
}

}  // namespace

int main() {
  core::CreateLockTable(true);
  const std::string root = bench::TempBenchFolder("userstat");
  const std::string config = root + "config\\", mail = root + "mail\\";
  core::ForceDirectory(config);
  core::SetConfigFolder(config);
  core::SetShortString(core::Settings().data(), core::cfg::MailFolder, mail);
  Install(config, mail);

  std::string domains;
  for (int d = 0; d < Domains; ++d)
    domains += "domain" + std::to_string(d) + ".test;";
  const std::string report = root + "report.csv";
  for (const auto& [name, filter] : {std::pair<const char*, std::string>{"userstat_ten_domains", domains},
                                     std::pair<const char*, std::string>{"userstat_all", "*"}}) {
    const auto [ours, baseline] = bench::AlternatingMedians(
        5, [&] { return core::WriteUserStatReport("2023/01/01", "2023/12/31", filter, report) ? 1 : 0; },
        [&] { return WalkAndRead(mail); });
    bench::Report(name, ours, baseline);
    std::string text;
    core::ReadFileToString(report, false, text);
    std::printf("  totals line: %s", text.substr(text.rfind("\r\n", text.size() - 3) + 2).c_str());
  }
  core::DeleteDirectory(root, "*.*", true);
  return 0;
}
