#include "tests/support/fake_services.h"

#include <atomic>

namespace fake {

namespace {

struct KindNames {
  const char* pipeSuffix;
  const char* serviceSuffix;
  const char* windowClass;
  const char* caption;
};

// Written out again here rather than taken from the code under test.
constexpr KindNames Kinds[] = {
    {"SMTP", "SMTP", "TSMTPForm", "SMTP"},
    {"POP3", "POP3", "TPOP3Form", "POP3"},
    {"IMAP", "Control", "TControlForm", "Control"},
    {"Instant Messaging Server", "IM", "TIMForm", "Instant Messaging Server"},
    {"Calendaring Server", "Calendar", "TCalendarForm", "Calendaring Server"},
    {"", "", "TWebMailForm", "Velmora Web Mail"},
};
constexpr int KindCount = 6;
constexpr DWORD SetupTimeout = 10000;

std::atomic<int> g_counter{0};

// Closes a service control manager handle once.
struct ScHandle {
  SC_HANDLE handle;
  explicit ScHandle(SC_HANDLE h) : handle(h) {}
  ~ScHandle() {
    if (handle != nullptr) ::CloseServiceHandle(handle);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
};

bool WaitForState(SC_HANDLE service, DWORD state, DWORD timeoutMs) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    SERVICE_STATUS status{};
    if (!::QueryServiceStatus(service, &status)) return false;
    if (status.dwCurrentState == state) return true;
    if (status.dwCurrentState == SERVICE_STOPPED && state != SERVICE_STOPPED) return false;
    if (::GetTickCount() - start > timeoutMs) return false;
    ::Sleep(10);
  }
}

// Stops the service (killing its process when it does not stop) and deletes it.
void StopAndDelete(SC_HANDLE manager, const std::string& name) {
  const ScHandle service(::OpenServiceA(manager, name.c_str(), SERVICE_ALL_ACCESS));
  if (service.handle == nullptr) return;
  SERVICE_STATUS status{};
  if (::QueryServiceStatus(service.handle, &status) && status.dwCurrentState != SERVICE_STOPPED) {
    ::ControlService(service.handle, SERVICE_CONTROL_STOP, &status);
    if (!WaitForState(service.handle, SERVICE_STOPPED, 5000)) {
      SERVICE_STATUS_PROCESS process{};
      DWORD needed = 0;
      if (::QueryServiceStatusEx(service.handle, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                                 sizeof(process), &needed) &&
          process.dwProcessId != 0) {
        const HANDLE handle = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, process.dwProcessId);
        if (handle != nullptr) {
          ::TerminateProcess(handle, 1);
          ::WaitForSingleObject(handle, 5000);
          ::CloseHandle(handle);
        }
      }
      WaitForState(service.handle, SERVICE_STOPPED, 5000);
    }
  }
  ::DeleteService(service.handle);
}

std::string LegacyKey(const std::string& pipeName) { return "System\\CurrentControlSet\\Services\\Pipes\\" + pipeName; }

std::string FakeExecutable() {
  std::string path = VM_FAKE_SERVICE_EXE;
  // The build tree's path is a host path; Wine shows the host's root as Z:.
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string FakePipeName(const std::string& prefix, int index) {
  return index >= 0 && index < KindCount ? prefix + Kinds[index].pipeSuffix : prefix;
}

std::string FakeServiceName(const std::string& prefix, int index) {
  if (index == 5) return "VelmoraWebMail";
  return index >= 0 && index < KindCount ? prefix + Kinds[index].serviceSuffix : std::string();
}

std::string FakeWindowClass(int index) { return index >= 0 && index < KindCount ? Kinds[index].windowClass : ""; }

std::string FakeWindowCaption(int index) { return index >= 0 && index < KindCount ? Kinds[index].caption : ""; }

FakeServiceSet::FakeServiceSet(std::string prefix) : prefix_(std::move(prefix)) {
  RemoveLeftovers(prefix_);
  char temp[MAX_PATH + 1] = {};
  ::GetTempPathA(MAX_PATH, temp);
  folder_ = std::string(temp) + "vmfakes-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++g_counter) + "\\";
  ::CreateDirectoryA(folder_.c_str(), nullptr);
}

FakeServiceSet::~FakeServiceSet() {
  for (auto it = entries_.rbegin(); it != entries_.rend(); ++it)
    TakeDown(*it);
  for (const Entry& entry : entries_)
    ::DeleteFileA(entry.logPath.c_str());
  ::RemoveDirectoryA(folder_.c_str());
}

void FakeServiceSet::RemoveLeftovers(const std::string& prefix) {
  const ScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  for (int index = 0; index < KindCount; ++index) {
    if (manager.handle != nullptr) StopAndDelete(manager.handle, FakeServiceName(prefix, index));
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, LegacyKey(FakePipeName(prefix, index)).c_str());
  }
}

bool FakeServiceSet::Add(const FakeSetup& setup) {
  error_.clear();
  if (Find(setup.index) != nullptr) {
    error_ = "a fake of this kind exists already";
    return false;
  }
  Entry entry;
  entry.index = setup.index;
  entry.mode = setup.mode;
  entry.logPath = folder_ + "fake" + std::to_string(setup.index) + ".log";
  ::DeleteFileA(entry.logPath.c_str());

  std::string arguments = " --pipe " + Quote(FakePipeName(prefix_, setup.index)) + " --log " + Quote(entry.logPath) +
                          " --parent " + std::to_string(::GetCurrentProcessId());
  if (!setup.reply.empty()) arguments += " --reply " + ToHex(setup.reply);
  if (setup.silent) arguments += " --silent 1";
  if (setup.window)
    arguments +=
        " --class " + Quote(FakeWindowClass(setup.index)) + " --caption " + Quote(FakeWindowCaption(setup.index));
  if (setup.mode == FakeMode::Legacy) arguments += " --legacy 1";

  bool ok = true;
  if (setup.mode == FakeMode::Service || setup.mode == FakeMode::StoppedService) {
    const ScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const std::string name = FakeServiceName(prefix_, setup.index);
    const std::string commandLine = Quote(FakeExecutable()) + " --service " + Quote(name) + arguments;
    const ScHandle service(manager.handle == nullptr
                               ? nullptr
                               : ::CreateServiceA(manager.handle, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                                  commandLine.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (service.handle == nullptr) {
      error_ = "CreateService " + name + " failed: " + std::to_string(::GetLastError());
      return false;
    }
    entry.serviceName = name;
    if (setup.mode == FakeMode::Service) {
      if (!::StartServiceA(service.handle, 0, nullptr)) {
        error_ = "StartService " + name + " failed: " + std::to_string(::GetLastError());
        ok = false;
      } else if (!WaitForState(service.handle, SERVICE_RUNNING, SetupTimeout)) {
        error_ = "service " + name + " did not reach the running state";
        ok = false;
      }
    }
  }
  if (ok && setup.mode != FakeMode::Service) ok = StartProcess(entry, Quote(FakeExecutable()) + arguments);

  entries_.push_back(entry);
  if (!ok) {
    TakeDown(entries_.back());
    entries_.pop_back();
  }
  return ok;
}

bool FakeServiceSet::AddRunning(std::initializer_list<int> indexes) {
  for (const int index : indexes) {
    FakeSetup setup;
    setup.index = index;
    if (!Add(setup)) return false;
  }
  return true;
}

bool FakeServiceSet::StartProcess(Entry& entry, const std::string& commandLine) {
  const std::string eventName =
      "vmfake-ready-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++g_counter);
  const HANDLE ready = ::CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
  std::string line = commandLine + " --ready " + eventName;
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    error_ = "CreateProcess failed: " + std::to_string(::GetLastError());
    ::CloseHandle(ready);
    return false;
  }
  ::CloseHandle(info.hThread);
  entry.process = info.hProcess;
  const HANDLE waits[2] = {ready, info.hProcess};
  const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, SetupTimeout);
  ::CloseHandle(ready);
  if (woke != WAIT_OBJECT_0) {
    error_ = "the fake process did not come up";
    return false;
  }
  return true;
}

void FakeServiceSet::TakeDown(Entry& entry) {
  if (!entry.serviceName.empty()) {
    const ScHandle manager(::OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (manager.handle != nullptr) StopAndDelete(manager.handle, entry.serviceName);
    entry.serviceName.clear();
  }
  if (entry.process != nullptr) {
    ::TerminateProcess(entry.process, 0);
    ::WaitForSingleObject(entry.process, 5000);
    ::CloseHandle(entry.process);
    entry.process = nullptr;
  }
  if (entry.mode == FakeMode::Legacy)
    ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, LegacyKey(FakePipeName(prefix_, entry.index)).c_str());
}

void FakeServiceSet::Remove(int index) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->index != index) continue;
    TakeDown(*it);
    ::DeleteFileA(it->logPath.c_str());
    entries_.erase(it);
    return;
  }
}

const FakeServiceSet::Entry* FakeServiceSet::Find(int index) const {
  for (const Entry& entry : entries_)
    if (entry.index == index) return &entry;
  return nullptr;
}

std::string FakeServiceSet::LogPath(int index) const {
  const Entry* entry = Find(index);
  return entry != nullptr ? entry->logPath : std::string();
}

std::vector<LogRecord> FakeServiceSet::Records(int index) const {
  const Entry* entry = Find(index);
  return entry != nullptr ? ReadLog(entry->logPath) : std::vector<LogRecord>();
}

bool FakeServiceSet::WaitForRecords(int index, std::size_t count, DWORD timeoutMs) const {
  const DWORD start = ::GetTickCount();
  for (;;) {
    if (Records(index).size() >= count) return true;
    if (::GetTickCount() - start > timeoutMs) return false;
    ::Sleep(5);
  }
}

}  // namespace fake
