// Two programs administering one installation at once, as a console and a
// script would: this program starts itself twice per step as a child that
// loads Api.dll, and checks the answers; records.py then reads the files
// back on its own (records.py check-shared). In "script" mode one child
// and a script under cscript (through the registered automation classes)
// administer the installation at once.
//
//   shared_install.exe <Api.dll> <folder holding install\>
//   shared_install.exe <Api.dll> <folder> child <job> <argument> <start event>
//   shared_install.exe <Api.dll> <folder> script <script.vbs>
//
// A child answers with its exit code (see Child). Every wait is bounded.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/platform/Files.h"
#include "core/platform/InstallationLock.h"
#include "include/Api.h"
#include "tests/support/records.h"

namespace {

constexpr int Users = 1500, SameAliases = 500, Domains = 30;
constexpr DWORD ChildBoundMs = 60000;

struct Library {
  HMODULE module = nullptr;
  ApiInitProc Init = nullptr;
  ApiVoidProc SaveConfig = nullptr;
  ApiAddUserProc AddUser = nullptr;
  ApiAddDomainProc AddDomain = nullptr;
  ApiRenameDomainProc RenameDomain = nullptr;
  ApiIndexProc DeleteDomain = nullptr;
  ApiNameProc GetDomainIndex = nullptr, GetUserCount = nullptr;
  ApiTextOutProc GetDomainList = nullptr;
  ApiSetConfigSettingProc SetConfigSetting = nullptr;
  ApiGetConfigSettingProc GetConfigSetting = nullptr;
  ApiGetUserIndexProc GetUserIndex = nullptr;

  template <typename T>
  void Bind(T& slot, const char* name) {
    slot = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (slot == nullptr) std::exit(100);
  }
  explicit Library(const char* path) : module(LoadLibraryA(path)) {
    if (module == nullptr) std::exit(100);
    Bind(Init, "Init");
    Bind(SaveConfig, "SaveConfig");
    Bind(AddUser, "AddUser");
    Bind(AddDomain, "AddDomain");
    Bind(RenameDomain, "RenameDomain");
    Bind(DeleteDomain, "DeleteDomain");
    Bind(GetDomainIndex, "GetDomainIndex");
    Bind(GetUserCount, "GetUserCount");
    Bind(GetDomainList, "GetDomainList");
    Bind(SetConfigSetting, "SetConfigSetting");
    Bind(GetConfigSetting, "GetConfigSetting");
    Bind(GetUserIndex, "GetUserIndex");
  }
};

std::vector<std::uint8_t> Account(const std::string& alias, std::uint8_t writesDomainFile = 0) {
  auto record = records::NewAccount{.aliases = alias}.Make<std::vector<std::uint8_t>>();
  record[records::user::Flag1022] = writesDomainFile;
  return record;
}

int AddUsers(Library& api, const char* domain, const std::string& prefix, int count) {
  int added = 0;
  for (int i = 0; i < count; ++i)
    added += api.AddUser(domain, Account(prefix + std::to_string(i)).data(), API_ACCOUNT_RECORD_SIZE) == 0;
  return added;
}

int AddDomains(Library& api, const std::string& prefix, int count) {
  std::vector<std::uint8_t> record(API_DOMAIN_RECORD_SIZE, 0);
  int added = 0;
  for (int i = 0; i < count; ++i)
    added += api.AddDomain((prefix + std::to_string(i) + ".test").c_str(), record.data(), API_DOMAIN_RECORD_SIZE) == 0;
  return added;
}

// The domains GetDomainList lists whose name starts with prefix.
int ListedDomains(Library& api, const std::string& prefix) {
  std::vector<char> list(64 * 1024);
  if (api.GetDomainList(list.data(), static_cast<int32_t>(list.size())) < 0) return -1;
  int found = 0;
  for (const char* at = list.data(); *at != '\0'; at += std::strlen(at) + 1)
    found += std::strncmp(at, prefix.c_str(), prefix.size()) == 0;
  return found;
}

// Jobs: "users <prefix>", "same", "domains <prefix>", "list" (the domains
// of the domains job that GetDomainList shows), "setting <id>" (sets the id
// to 4321 and saves), "hold fill" (adds "k0", "k1" and "killed0.test", then
// keeps the lock until it is killed), "hold -" (keeps the lock).
int Child(Library& api, const std::string& install, const std::string& job, const std::string& argument,
          const char* start) {
  if (api.Init(install.c_str()) != 0) return 101;
  if (job == "hold") {
    if (argument == "fill" && (AddUsers(api, "a.test", "k", 2) != 2 || AddDomains(api, "killed", 1) != 1)) return 102;
    core::SetInstallationFolder(install + "config\\");
    core::InstallationHold hold;
    const HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, start);
    if (!hold.held() || ready == nullptr) return 103;
    SetEvent(ready);
    Sleep(ChildBoundMs);
    return 104;
  }
  const HANDLE ready = OpenSemaphoreA(SEMAPHORE_MODIFY_STATE, FALSE, (std::string(start) + " ready").c_str());
  const HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, start);
  if (ready == nullptr || go == nullptr) return 105;
  ReleaseSemaphore(ready, 1, nullptr);
  if (WaitForSingleObject(go, ChildBoundMs) != WAIT_OBJECT_0) return 106;
  if (job == "users") return AddUsers(api, "a.test", argument, Users);
  if (job == "same") return AddUsers(api, "s.test", "s", SameAliases);
  if (job == "domains") return AddDomains(api, argument, Domains);
  if (job == "list") return ListedDomains(api, "da") + ListedDomains(api, "db");
  if (job == "setting") {
    const std::int32_t value = 4321;
    if (api.SetConfigSetting(std::atoi(argument.c_str()), &value, sizeof value) < 0) return 109;
    api.SaveConfig();
    return 0;
  }
  return 110;
}

struct Run {
  int passed = 0, failed = 0;
  void Expect(const char* what, long long got, long long want) {
    if (got == want) {
      ++passed;
      return;
    }
    ++failed;
    std::printf("%s: %lld, expected %lld\n", what, got, want);
  }
};

// Starts two children on one job at once and answers their exit codes.
std::vector<DWORD> RunPair(const std::string& self, const std::string& dll, const std::string& folder,
                           const std::string& job, const char* first, const char* second) {
  static int round = 0;
  const std::string start = "shared-install-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++round);
  const HANDLE go = CreateEventA(nullptr, TRUE, FALSE, start.c_str());
  const HANDLE ready = CreateSemaphoreA(nullptr, 0, 2, (start + " ready").c_str());
  std::vector<PROCESS_INFORMATION> children;
  for (const char* argument : {first, second}) {
    std::string command = "\"" + self + "\" \"" + dll + "\" \"" + folder.substr(0, folder.size() - 1) + "\" child " +
                          job + " " + argument + " \"" + start + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      children.push_back(process);
  }
  // Ready, or gone (a child that could not start its job).
  for (const PROCESS_INFORMATION& process : children) {
    const HANDLE either[] = {ready, process.hProcess};
    WaitForMultipleObjects(2, either, FALSE, ChildBoundMs);
  }
  SetEvent(go);
  std::vector<DWORD> codes;
  for (const PROCESS_INFORMATION& process : children) {
    DWORD code = 999;
    if (WaitForSingleObject(process.hProcess, ChildBoundMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(process.hProcess, &code);
    codes.push_back(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(go);
  CloseHandle(ready);
  while (codes.size() < 2)
    codes.push_back(998);
  return codes;
}

// A child that holds the lock once it said so ("hold <argument>").
PROCESS_INFORMATION StartHolder(const std::string& self, const std::string& dll, const std::string& folder,
                                const char* argument, Run& run) {
  static int round = 0;
  const std::string held =
      "shared-install-held-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++round);
  const HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, held.c_str());
  std::string command = "\"" + self + "\" \"" + dll + "\" \"" + folder.substr(0, folder.size() - 1) + "\" child hold " +
                        argument + " \"" + held + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION holder{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &holder)) {
    run.Expect("holder started", 0, 1);
  } else {
    const HANDLE both[] = {ready, holder.hProcess};
    run.Expect("holder holds", WaitForMultipleObjects(2, both, FALSE, ChildBoundMs), WAIT_OBJECT_0);
  }
  CloseHandle(ready);
  return holder;
}

// The script and a child adding Users accounts "c0".. to a.test, started
// together; the script adds "v0".."v199" there and the domains v0.test to
// v2.test, and sets setting 57 (see tests/api/scripts/shared_accounts.vbs).
int WithScript(Library& api, const std::string& self, const std::string& dll, const std::string& folder,
               const std::string& install, const std::string& script) {
  Run run;
  const std::string start = "shared-script-" + std::to_string(GetCurrentProcessId());
  const HANDLE go = CreateEventA(nullptr, TRUE, FALSE, start.c_str());
  const HANDLE ready = CreateSemaphoreA(nullptr, 0, 1, (start + " ready").c_str());
  std::string commands[] = {
      "\"" + self + "\" \"" + dll + "\" \"" + folder.substr(0, folder.size() - 1) + "\" child users c \"" + start +
          "\"",
      // No "\\" before a closing quote, which would escape it.
      "cscript.exe //nologo \"" + script + "\" \"" + install.substr(0, install.size() - 1) + "\""};
  std::vector<PROCESS_INFORMATION> started;
  for (std::string& command : commands) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = startup.hStdError = GetStdHandle(STD_OUTPUT_HANDLE);
    PROCESS_INFORMATION process{};
    if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
      started.push_back(process);
  }
  run.Expect("child and script started", static_cast<long long>(started.size()), 2);
  if (started.size() == 2) {
    const HANDLE either[] = {ready, started[0].hProcess};
    WaitForMultipleObjects(2, either, FALSE, ChildBoundMs);
  }
  SetEvent(go);
  std::vector<DWORD> codes;
  for (const PROCESS_INFORMATION& process : started) {
    DWORD code = 999;
    if (WaitForSingleObject(process.hProcess, 5 * ChildBoundMs) == WAIT_OBJECT_0)
      GetExitCodeProcess(process.hProcess, &code);
    codes.push_back(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(go);
  CloseHandle(ready);
  if (codes.size() == 2) {
    run.Expect("distinct adds of the child", codes[0], Users);
    run.Expect("failed checks of the script", codes[1], 0);
  }
  run.Expect("Init after both", api.Init(install.c_str()), 0);
  run.Expect("GetUserCount(a.test)", api.GetUserCount("a.test"), Users + 200);
  int found = 0;
  for (int i = 0; i < Users; ++i)
    found += api.GetUserIndex("a.test", ("c" + std::to_string(i)).c_str()) >= 0;
  for (int i = 0; i < 200; ++i)
    found += api.GetUserIndex("a.test", ("v" + std::to_string(i)).c_str()) >= 0;
  run.Expect("every alias of both found", found, Users + 200);
  for (const char* domain : {"a.test", "v0.test", "v1.test", "v2.test"})
    run.Expect(domain, api.GetDomainIndex(domain) >= 0, 1);
  std::int32_t value = 0;
  run.Expect("setting 57 of the script", api.GetConfigSetting(57, &value, sizeof value) >= 0 ? value : -1, 4321);
  std::printf("%d passed, %d failed\n", run.passed, run.failed);
  return run.failed == 0 ? 0 : 1;
}

void Kill(PROCESS_INFORMATION& holder) {
  if (holder.hProcess == nullptr) return;
  TerminateProcess(holder.hProcess, 9);
  WaitForSingleObject(holder.hProcess, ChildBoundMs);
  CloseHandle(holder.hThread);
  CloseHandle(holder.hProcess);
  holder = PROCESS_INFORMATION{};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 100;
  Library api(argv[1]);
  // A full path with its drive (the build tree is drive Z:): the library
  // writes nothing to a relative folder.
  std::string folder = argv[2];
  if (!folder.empty() && folder[0] == '/') folder = "Z:" + folder;
  for (char& c : folder)
    c = c == '/' ? '\\' : c;
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  const std::string install = folder + "install\\";
  if (argc == 7 && std::string(argv[3]) == "child") return Child(api, install, argv[4], argv[5], argv[6]);

  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, MAX_PATH);
  if (argc == 5 && std::string(argv[3]) == "script") {
    std::string script = argv[4];
    if (!script.empty() && script[0] == '/') script = "Z:" + script;
    for (char& c : script)
      c = c == '/' ? '\\' : c;
    return WithScript(api, self, argv[1], folder, install, script);
  }
  Run run;
  std::vector<std::uint8_t> domain(API_DOMAIN_RECORD_SIZE, 0);
  run.Expect("Init", api.Init(install.c_str()), 0);
  run.Expect("AddDomain(s.test)", api.AddDomain("s.test", domain.data(), API_DOMAIN_RECORD_SIZE), 0);

  std::vector<DWORD> codes = RunPair(self, argv[1], folder, "users", "p", "q");
  run.Expect("distinct adds of the first child", codes[0], Users);
  run.Expect("distinct adds of the second child", codes[1], Users);
  run.Expect("GetUserCount(a.test)", api.GetUserCount("a.test"), 2 * Users);

  codes = RunPair(self, argv[1], folder, "same", "-", "-");
  run.Expect("adds of the same aliases accepted in all", codes[0] + codes[1], SameAliases);

  codes = RunPair(self, argv[1], folder, "domains", "da", "db");
  run.Expect("domains added by both children", codes[0] + codes[1], 2 * Domains);
  codes = RunPair(self, argv[1], folder, "list", "-", "-");
  run.Expect("domains the first child lists after its Init", codes[0], 2 * Domains);
  run.Expect("domains the second child lists after its Init", codes[1], 2 * Domains);

  codes = RunPair(self, argv[1], folder, "setting", "12", "57");
  run.Expect("setting children", codes[0] + codes[1], 0);
  // This process changed nothing since: its save must keep both.
  api.SaveConfig();

  // A holder that keeps the lock: a change waits out the bound, then fails
  // and writes nothing ("w0" must not reach the file).
  run.Expect("Init before the holders", api.Init(install.c_str()), 0);
  PROCESS_INFORMATION holder = StartHolder(self, argv[1], folder, "-", run);
  auto before = std::chrono::steady_clock::now();
  run.Expect("AddUser while another process holds the lock", AddUsers(api, "a.test", "w", 1), 0);
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
  const auto bound = static_cast<long long>(core::InstallationWaitBoundMs);
  run.Expect("refused after the bound", waited.count() >= bound - 500 && waited.count() < bound + 5000, 1);
  Kill(holder);

  // A holder killed inside the lock: the next change is granted at once
  // and works on the files as the holder left them.
  holder = StartHolder(self, argv[1], folder, "fill", run);
  Kill(holder);
  before = std::chrono::steady_clock::now();
  run.Expect("AddDomain after the holder died", api.AddDomain("after.test", domain.data(), API_DOMAIN_RECORD_SIZE), 0);
  run.Expect("AddUser after the holder died", AddUsers(api, "a.test", "d", 1), 1);
  waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - before);
  run.Expect("granted within the bound", waited.count() < bound, 1);
  run.Expect("killed0.test kept", api.GetDomainIndex("killed0.test") >= 0, 1);

  // A renamed domain's mail stays in its old folder: deleting a new domain
  // of the old name must not take it.
  run.Expect("AddDomain(old.test)", api.AddDomain("old.test", domain.data(), API_DOMAIN_RECORD_SIZE), 0);
  run.Expect("AddUser(old.test, ann)", AddUsers(api, "old.test", "ann", 1), 1);
  const std::string mail = install + "mail\\old.test\\ann0\\";
  core::ForceDirectory(mail);
  const HANDLE message =
      CreateFileA((mail + "1.imap").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  CloseHandle(message);
  run.Expect("RenameDomain", api.RenameDomain("old.test", "new.test"), 0);
  run.Expect("AddDomain(old.test) again", api.AddDomain("old.test", domain.data(), API_DOMAIN_RECORD_SIZE), 0);
  run.Expect("DeleteDomain(old.test)", api.DeleteDomain(api.GetDomainIndex("old.test")), 0);

  // Mailbox folders that leave the domain's folder.
  for (const char* alias : {"..", ".", "..;x"})
    run.Expect(alias, api.AddUser("a.test", Account(alias, 1).data(), API_ACCOUNT_RECORD_SIZE), -1);

  std::printf("%d passed, %d failed\n", run.passed, run.failed);
  return run.failed == 0 ? 0 : 1;
}
