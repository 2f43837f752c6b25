// Wine probe of directory synchronisation, driven by ldap_driver.py: one
// command per line on stdin, one "ok ..." line per command on stdout. Texts
// travel hex-encoded. Accounts go through the real account store, whose
// hook runs the synchronisation; the driver checks the directory itself.
//   init ROOT                   installation folder (also the registry's)
//   load                        read its settings again
//   write DOMAIN FIND KIND ALIASES NAME   FIND: alias of the record to replace ("" appends)
//   delete DOMAIN FIND
//   bind ITEM0 ITEM1 PASSWORD ALIASES DOMAIN   the authentication's LDAP bind
//   client FILE | reload | loaded NAME
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
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : text) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out.empty() ? "-" : out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

void PutText(AccountRecordBytes& r, std::size_t offset, const std::string& text) {
  r[offset] = static_cast<std::uint8_t>(text.size());
  std::copy(text.begin(), text.end(), r.begin() + static_cast<std::ptrdiff_t>(offset) + 1);
}

// Written with the offsets spelled out: kind 0, name 4, aliases 260,
// AuthMode 664, AuthModeValue 900.
AccountRecordBytes Account(int kind, const std::string& aliases, const std::string& name, int authMode = 0,
                           const std::string& authValue = "") {
  AccountRecordBytes r{};
  r[0] = static_cast<std::uint8_t>(kind);
  PutText(r, 4, name);
  PutText(r, 260, aliases);
  r[664] = static_cast<std::uint8_t>(authMode);
  PutText(r, 900, authValue);
  return r;
}

std::string Outcome() {
  const LdapSyncOutcome outcome = LastLdapSyncOutcome();
  std::string line = "dn=" + Hex(outcome.dn);
  for (const LdapOperation& op : outcome.operations)
    line += " " + op.kind + ":" + std::to_string(op.result) + ":" + Hex(op.dn);
  return line;
}

// The authentication's bind, with its answer kept for the driver.
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

// "ldapbypass.dat" as a plain list of addresses, one a line.
bool ListedIn(std::string_view address, const std::string& file) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line))
    if (SameText(Trim(line), address)) return true;
  return false;
}

bool Write(const std::string& domain, const std::string& find, const AccountRecordBytes& record) {
  const int d = DomainListFind(domain);
  const std::int32_t index = find.empty() ? -1 : FindAccountIndex(d, find);
  return WriteAccountRecord(d, record, index);
}

bool Delete(const std::string& domain, const std::string& find) {
  const int d = DomainListFind(domain);
  return DeleteAccountRecord(d, FindAccountIndex(d, find));
}

// Writers, one per domain: add every account, rename each, delete every
// third; binders log in meanwhile until the writers are done.
std::string Stress(int domains, int accounts, int binders, const std::string& item0, const std::string& item1,
                   const std::string& password) {
  std::atomic<bool> done{false};
  std::atomic<int> accepted{0}, refused{0}, failedWrites{0};
  std::vector<std::thread> writers, binding;
  for (int t = 0; t < binders; ++t)
    binding.emplace_back([&] {
      const AccountRecordBytes record = Account(0, "bob", "", 2, item0 + ";" + item1);
      while (!done.load())
        (CheckExternalLogin(record, password, "example.test") ? accepted : refused)++;
    });
  for (int t = 0; t < domains; ++t)
    writers.emplace_back([&, t] {
      const std::string domain = "d" + std::to_string(t) + ".test";
      for (int pass = 0; pass < 3; ++pass)
        for (int i = 0; i < accounts; ++i) {
          const std::string u = "u" + std::to_string(i);
          bool ok = true;
          if (pass == 0) ok = Write(domain, "", Account(0, u, "User " + std::to_string(i)));
          if (pass == 1)
            ok = Write(domain, u, Account(0, u + ";x" + std::to_string(i), "Changed Name " + std::to_string(i)));
          if (pass == 2 && i % 3 == 0) ok = Delete(domain, u);
          if (!ok) ++failedWrites;
        }
    });
  for (std::thread& w : writers)
    w.join();
  done = true;
  for (std::thread& b : binding)
    b.join();
  return "accepted=" + std::to_string(accepted) + " refused=" + std::to_string(refused) +
         " failed=" + std::to_string(failedWrites);
}

}  // namespace

int main() {
  CreateLockTable(true);
  InitPlatformUnit();
  InstallUnitHooks();
  SetLdapBindFunction(&RecordingBind);
  SetLdapBypassTest(&ListedIn);
  std::unique_ptr<fixture::InstallDirValue> installDir;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    const auto start = std::chrono::steady_clock::now();
    std::string reply;
    if (command == "init") {
      std::string root;
      in >> root;
      root = Unhex(root);
      installDir = std::make_unique<fixture::InstallDirValue>(root);
      SetRootFolder(root);
      SetConfigFolder(root + "config\\");
      ReadPathConfig(root);
      reply = InitServerConfig(true, false) ? "" : "unreadable";
    } else if (command == "load") {
      reply = InitServerConfig(true, false) ? "" : "unreadable";
    } else if (command == "write") {
      std::string domain, find, aliases, name;
      int kind = 0;
      in >> domain >> find >> kind >> aliases >> name;
      const bool ok = Write(domain, Unhex(find), Account(kind, Unhex(aliases), Unhex(name)));
      reply = std::string(ok ? "written " : "refused ") + Outcome();
    } else if (command == "delete") {
      std::string domain, find;
      in >> domain >> find;
      reply = std::string(Delete(domain, Unhex(find)) ? "deleted " : "refused ") + Outcome();
    } else if (command == "bind") {
      std::string item0, item1, password, aliases, domain;
      in >> item0 >> item1 >> password >> aliases >> domain;
      {
        std::lock_guard<std::mutex> guard(g_bindMutex);
        g_lastCode = -1000;
        g_lastName.clear();
      }
      const AccountRecordBytes record = Account(0, Unhex(aliases), "", 2, Unhex(item0) + ";" + Unhex(item1));
      const bool accepted = CheckExternalLogin(record, Unhex(password), domain);
      std::lock_guard<std::mutex> guard(g_bindMutex);
      reply =
          "accepted=" + std::to_string(accepted) + " code=" + std::to_string(g_lastCode) + " name=" + Hex(g_lastName);
    } else if (command == "client") {
      std::string file;
      in >> file;
      SetLdapClientFile(Unhex(file));
      FinaliseLdapUnit();
    } else if (command == "reload") {
      FinaliseLdapUnit();
    } else if (command == "loaded") {
      std::string name;
      in >> name;
      reply = std::to_string(GetModuleHandleA(Unhex(name).c_str()) != nullptr) + " " +
              std::to_string(IsLDAPLibraryLoaded());
    } else if (command == "stress") {
      int domains = 0, accounts = 0, binders = 0;
      std::string item0, item1, password;
      in >> domains >> accounts >> binders >> item0 >> item1 >> password;
      reply = Stress(domains, accounts, binders, Unhex(item0), Unhex(item1), Unhex(password));
    } else if (command == "quit") {
      break;
    } else {
      reply = "unknown";
    }
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("ok ms=%lld %s\n", static_cast<long long>(ms), reply.c_str());
    std::fflush(stdout);
  }
  FinaliseLdapUnit();
  return 0;
}
