// 1,000 modify synchronisations of one account through SyncUserToLDAP
// against the same conversation done through wldap32 directly (open, bind
// and its result, a modify of the same four attributes and its result,
// unbind), measured in turn in the same run against the same slapd. Runs
// under Wine; bench_ldap_sync.sh starts the slapd and passes its port, its
// root password and the forwarding client LDAP32.dll.
//   bench_ldap_sync.exe PORT ROOTPW CLIENT
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/harness.h"
#include "core/config/ConfigStore.h"
#include "core/ldap/LdapClient.h"
#include "core/ldap/LdapSync.h"
#include "core/platform/Files.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"

namespace {

constexpr int Syncs = 1000;
constexpr int Rounds = 10;
const char* const Suffix = "dc=example,dc=test";
const char* const RootDn = "cn=admin,dc=example,dc=test";
const char* const EntryDn = "cn=bench@example.test,ou=example.test,dc=example,dc=test";

struct Timeval {
  std::int32_t seconds, microseconds;
};
using Open = void*(__cdecl*)(const char*, std::uint32_t);
using Bind = std::uint32_t(__cdecl*)(void*, const char*, const char*, std::uint32_t);
using Unbind = std::uint32_t(__cdecl*)(void*);
using Modify = std::uint32_t(__cdecl*)(void*, const char*, core::LdapModRecord**);
using Result = std::uint32_t(__cdecl*)(void*, std::uint32_t, std::uint32_t, Timeval*, void**);
using ResultToError = std::uint32_t(__cdecl*)(void*, void*, std::uint32_t);

template <typename Proc>
Proc Entry(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

core::AccountRecordBytes Account(const std::string& name) {
  core::AccountRecordBytes r{};
  r[4] = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), r.begin() + 5);
  const std::string aliases = "bench;b2";
  r[260] = static_cast<std::uint8_t>(aliases.size());
  std::copy(aliases.begin(), aliases.end(), r.begin() + 261);
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_ldap_sync PORT ROOTPW CLIENT\n");
    return 2;
  }
  const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
  const std::string password = argv[2];
  core::CreateLockTable(true);
  core::InitPlatformUnit();
  std::uint8_t* settings = core::Settings().data();
  core::SetU8(settings, core::ConfigField("LdapServerOn"), 1);
  core::SetShortString(settings, core::cfg::LdapServerList, "127.0.0.1");
  core::SetU16(settings, core::ConfigField("LdapPort"), port);
  const std::string folder = core::HostProgramFolder() + "ldap\\";
  CreateDirectoryA(folder.c_str(), nullptr);
  std::ofstream(folder + "slapd.conf") << "usersuffix ou=%s," << Suffix << "\nrootdn " << RootDn << "\nrootpw "
                                       << password << "\n";
  core::SetLdapClientFile(argv[3]);

  const core::AccountRecordBytes first = Account("Bench Mark");
  const core::AccountRecordBytes second = Account("Mark Bench");
  core::SyncUserToLDAP(core::SyncMode::Add, first, nullptr, "example.test");

  HMODULE client = LoadLibraryA("wldap32.dll");
  const auto open = Entry<Open>(client, "ldap_open");
  const auto bind = Entry<Bind>(client, "ldap_bind");
  const auto unbind = Entry<Unbind>(client, "ldap_unbind");
  const auto modify = Entry<Modify>(client, "ldap_modify");
  const auto result = Entry<Result>(client, "ldap_result");
  const auto toError = Entry<ResultToError>(client, "ldap_result2error");
  const auto wait = [&](void* ld, std::uint32_t message) {
    Timeval timeout{5, 0};
    void* answer = nullptr;
    if (result(ld, message, 0, &timeout, &answer) == 0 || answer == nullptr) return 85u;
    return toError(ld, answer, 1);
  };
  int turn = 0;
  int failures = 0;
  const auto [ours, baseline] = bench::AlternatingMedians(
      Rounds,
      [&] {
        for (int i = 0; i < Syncs / Rounds; ++i)
          core::SyncUserToLDAP(core::SyncMode::Modify, ++turn % 2 ? second : first, nullptr, "example.test");
        return 0;
      },
      [&] {
        for (int i = 0; i < Syncs / Rounds; ++i) {
          core::LdapModifications mods(
              core::BuildLdapUserEntry("bench;b2", ++turn % 2 ? "Mark Bench" : "Bench Mark", "example.test", true),
              false);
          void* ld = open("127.0.0.1", port);
          if (wait(ld, bind(ld, RootDn, password.c_str(), 128)) != 0 || wait(ld, modify(ld, EntryDn, mods.data())) != 0)
            ++failures;
          unbind(ld);
        }
        return 0;
      });
  const core::LdapSyncOutcome last = core::LastLdapSyncOutcome();
  if (last.operations.size() != 2 || last.operations[1].result != 0 || failures != 0) {
    std::fprintf(stderr, "bench_ldap_sync: a modify failed\n");
    return 1;
  }
  bench::Report("ldap_sync_1000_modify", ours * Rounds, baseline * Rounds);
  DeleteFileA((folder + "slapd.conf").c_str());
  RemoveDirectoryA(folder.c_str());
  core::FinaliseLdapUnit();
  return 0;
}
