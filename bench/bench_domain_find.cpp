// DomainListFind over 10,000 served domains against a hash lookup of the
// same names: the remembered last lookup, the last entry of the table, and a
// miss that consults a 1,000-line "subdomains.dat" (every lookup that
// reaches the file asks for its time and size, so the baseline of the miss
// adds one GetFileAttributesEx of the file to each hash lookup). Runs under
// Wine.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>

#include "bench/bench_files.h"
#include "bench/harness.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainTable.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"

namespace {

constexpr int Domains = 10000;
constexpr int Lookups = 2000;

std::string Name(int i) { return "domain" + std::to_string(i) + ".example"; }

}  // namespace

int main() {
  core::CreateLockTable(true);
  const std::string config = bench::TempBenchFolder("domains");
  core::SetConfigFolder(config);
  std::unordered_map<std::string, int> hash;
  for (int i = 0; i < Domains; ++i) {
    core::DomainListAdd(Name(i));
    hash.emplace(Name(i), i);
  }

  const std::string last = Name(Domains - 1);
  const long long remembered = bench::MedianNanoseconds(9, [&] {
    int sum = 0;
    for (int i = 0; i < Lookups; ++i)
      sum += core::DomainListFind(last);
    return sum;
  });
  const long long hashed = bench::MedianNanoseconds(9, [&] {
    int sum = 0;
    for (int i = 0; i < Lookups; ++i)
      sum += hash.count(last) != 0 ? hash.at(last) : -1;
    return sum;
  });
  bench::Report("find_remembered", remembered, hashed);

  // Alternating names defeat the remembered pair: a full scan each time.
  const std::string other = Name(Domains - 2);
  const long long scanned = bench::MedianNanoseconds(5, [&] {
    int sum = 0;
    for (int i = 0; i < Lookups / 20; ++i)
      sum += core::DomainListFind(i % 2 == 0 ? last : other);
    return sum;
  });
  const long long hashedScan = bench::MedianNanoseconds(5, [&] {
    int sum = 0;
    for (int i = 0; i < Lookups / 20; ++i)
      sum += hash.at(i % 2 == 0 ? last : other);
    return sum;
  });
  bench::Report("find_last_entry", scanned, hashedScan);

  std::string aliases;
  for (int i = 0; i < 1000; ++i)
    aliases += "alias" + std::to_string(i) + ".example=" + Name(i) + "\r\n";
  core::WriteFileAtomic(config + "subdomains.dat", aliases.data(), aliases.size());
  core::NoteSubdomainList();
  const long long missed = bench::MedianNanoseconds(5, [&] {
    int sum = 0;
    for (int i = 0; i < 20; ++i)
      sum += core::DomainListFind("nowhere" + std::to_string(i) + ".example");
    return sum;
  });
  const std::string aliasFile = config + "subdomains.dat";
  const long long hashedMiss = bench::MedianNanoseconds(5, [&] {
    int sum = 0;
    for (int i = 0; i < 20; ++i) {
      WIN32_FILE_ATTRIBUTE_DATA data{};
      if (GetFileAttributesExA(aliasFile.c_str(), GetFileExInfoStandard, &data)) sum += 1;
      sum += hash.count("nowhere" + std::to_string(i) + ".example") != 0 ? 1 : -1;
    }
    return sum;
  });
  bench::Report("find_miss_with_subdomains", missed, hashedMiss);
  core::DeleteDirectory(config, "*.*", true);
  return 0;
}
