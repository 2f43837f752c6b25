// Wine probe of directory synchronisation, driven by ldap_driver.py: one
// command per line on stdin, one "ok ms=N ..." line per command on stdout;
// texts travel hex-encoded ("-" for none). Accounts go through the real
// account store, whose hook runs the synchronisation.
//   init ROOT                  installation folder (also the registry's); reads its settings
//   write DOMAIN FIND KIND ALIASES NAME   replaces the account FIND names ("-" appends)
//   delete DOMAIN FIND
//   bind ITEM0 ITEM1 PASSWORD ALIASES DOMAIN   the authentication's LDAP bind (AuthMode 2)
//   client FILE                the client to load next; the unit starts afresh
//   loaded MODULE              whether that module and the client are loaded
//   stress DOMAINS ACCOUNTS BINDERS ITEM0 ITEM1 PASSWORD
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/accounts/AccountStore.h"
#include "core/auth/Authenticate.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainTable.h"
#include "core/ldap/LdapClient.h"
#include "core/ldap/LdapSync.h"
#include "core/platform/LockTable.h"
#include "core/platform/System.h"
#include "core/startup/ConfigLoad.h"
#include "core/util/Text.h"
#include "tests/api/Fixture.h"

namespace {

using namespace core;

std::string Hex(const std::string& text) {
  std::string out;
  for (const unsigned char c : text)
    out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
  return out.empty() ? "-" : out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

AccountRecordBytes Account(int kind, const std::string& aliases, const std::string& name, int authMode = 0,
                           const std::string& authValue = "") {
  return records::NewAccount{.aliases = aliases,
                             .name = name,
                             .authValue = authValue,
                             .kind = static_cast<std::uint8_t>(kind),
                             .authMode = static_cast<std::uint8_t>(authMode)}
      .Make<AccountRecordBytes>();
}

std::string Outcome(bool done) {
  const LdapSyncOutcome outcome = LastLdapSyncOutcome();
  std::string line = std::string(done ? "done" : "refused") + " dn=" + Hex(outcome.dn);
  for (const LdapOperation& op : outcome.operations)
    line += " " + op.kind + ":" + std::to_string(op.result) + ":" + Hex(op.dn);
  return line;
}

// The authentication's bind, its answer kept for the driver.
std::mutex g_bindMutex;
int g_lastCode = -1000;
std::string g_lastName;

int RecordingBind(const std::string& server, std::uint16_t port, const std::string& name, const std::string& password) {
  const int code = LdapBindCheck(server, port, name, password);
  std::lock_guard<std::mutex> guard(g_bindMutex);
  g_lastCode = code;
  g_lastName = name;
  return code;
}

bool Write(const std::string& domain, const std::string& find, const AccountRecordBytes& record) {
  const int d = DomainListFind(domain);
  return WriteAccountRecord(d, record, find.empty() ? -1 : FindAccountIndex(d, find));
}

bool Delete(const std::string& domain, const std::string& find) {
  const int d = DomainListFind(domain);
  return DeleteAccountRecord(d, FindAccountIndex(d, find));
}

// A writer per domain adds every account, renames each and deletes every
// third; the binders log in meanwhile until the writers are done.
std::string Stress(int domains, int accounts, int binders, const std::string& authValue, const std::string& password) {
  std::atomic<bool> done{false};
  std::atomic<int> accepted{0}, refused{0}, failed{0};
  std::vector<std::thread> writers, binding;
  for (int t = 0; t < binders; ++t)
    binding.emplace_back([&] {
      const AccountRecordBytes record = Account(0, "bob", "", 2, authValue);
      while (!done)
        (CheckExternalLogin(record, password, "example.test") ? accepted : refused)++;
    });
  for (int t = 0; t < domains; ++t)
    writers.emplace_back([&, t] {
      const std::string domain = "d" + std::to_string(t) + ".test";
      for (int i = 0; i < accounts; ++i)
        failed += !Write(domain, "", Account(0, "u" + std::to_string(i), "User " + std::to_string(i)));
      for (int i = 0; i < accounts; ++i) {
        const std::string n = std::to_string(i);
        failed += !Write(domain, "u" + n, Account(0, "u" + n + ";x" + n, "Changed Name " + n));
      }
      for (int i = 0; i < accounts; i += 3)
        failed += !Delete(domain, "u" + std::to_string(i));
    });
  for (std::thread& w : writers)
    w.join();
  done = true;
  for (std::thread& b : binding)
    b.join();
  return "accepted=" + std::to_string(accepted) + " refused=" + std::to_string(refused) +
         " failed=" + std::to_string(failed);
}

}  // namespace

int main() {
  CreateLockTable(true);
  InitPlatformUnit();
  InstallUnitHooks();
  SetLdapBindFunction(&RecordingBind);
  std::unique_ptr<fixture::InstallDirValue> installDir;
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream in(line);
    std::string command, a, b, c, d, e;
    int n = 0;
    in >> command;
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    if (command == "init") {
      in >> a;
      const std::string root = Unhex(a);
      installDir.reset();
      installDir = std::make_unique<fixture::InstallDirValue>(root);
      SetRootFolder(root);
      SetConfigFolder(root + "config\\");
      ReadPathConfig(root);
      reply = InitServerConfig(true, false) ? "" : "unreadable";
    } else if (command == "write") {
      in >> a >> b >> n >> c >> d;
      reply = Outcome(Write(a, Unhex(b), Account(n, Unhex(c), Unhex(d))));
    } else if (command == "delete") {
      in >> a >> b;
      reply = Outcome(Delete(a, Unhex(b)));
    } else if (command == "bind") {
      in >> a >> b >> c >> d >> e;
      {
        std::lock_guard<std::mutex> guard(g_bindMutex);
        g_lastCode = -1000;
        g_lastName.clear();
      }
      const AccountRecordBytes record = Account(0, Unhex(d), "", 2, Unhex(a) + ";" + Unhex(b));
      const bool accepted = CheckExternalLogin(record, Unhex(c), e);
      std::lock_guard<std::mutex> guard(g_bindMutex);
      reply =
          "accepted=" + std::to_string(accepted) + " code=" + std::to_string(g_lastCode) + " name=" + Hex(g_lastName);
    } else if (command == "client") {
      in >> a;
      SetLdapClientFile(Unhex(a));
      FinaliseLdapUnit();
    } else if (command == "loaded") {
      in >> a;
      reply =
          std::to_string(GetModuleHandleA(Unhex(a).c_str()) != nullptr) + " " + std::to_string(IsLDAPLibraryLoaded());
    } else if (command == "stress") {
      int accounts = 0, binders = 0;
      in >> n >> accounts >> binders >> a >> b >> c;
      reply = Stress(n, accounts, binders, Unhex(a) + ";" + Unhex(b), Unhex(c));
    } else if (command == "quit") {
      break;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("ok ms=%lld %s\n", static_cast<long long>(ms.count()), reply.c_str());
    std::fflush(stdout);
  }
  FinaliseLdapUnit();
  return 0;
}
