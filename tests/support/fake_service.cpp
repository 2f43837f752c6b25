// A stand-in for one of the mail server's services. It owns what the real
// service owns towards the libraries (its control pipe, optionally its hidden
// window, its entry in the service control manager) and logs every request
// it gets, so tests can check what was delivered and in which order.
//
//   fake_service.exe --pipe NAME --log FILE [--service NAME] [--reply HEX] [--silent 1]
//                    [--class CLASS --caption CAPTION] [--legacy]
//                    [--ready EVENT] [--parent PID]
//
// --service   run under the service control manager with that name
// --pipe      named pipe "\\.\pipe\NAME"; with --legacy instead the mutex,
//             the anonymous pipe pair and its registry entry of that name
// --reply     bytes (hex) answered to a request with command 0x1003; without
//             it such a request gets the connection closed
// --silent 1  a request with command 0x1003 gets no answer at all: the
//             connection stays open until the client gives up
// --class/--caption  also stand up the hidden window
// --ready     event set once everything is up
// --parent    exit when that process ends, so a crashed test leaves no fake
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/fake_log.h"
#include "tests/support/fake_window.h"

namespace {

constexpr std::uint32_t CommandWithReply = 0x1003;

struct Options {
  std::string serviceName;
  std::string pipeName;
  std::string logPath;
  std::string reply;
  bool hasReply = false;
  bool silent = false;
  std::string windowClass;
  std::string caption;
  bool legacy = false;
  std::string readyEvent;
  DWORD parent = 0;
};

Options g_options;
HANDLE g_stop = nullptr;
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
SERVICE_STATUS g_status{};

bool ParseOptions(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    if (key == "--service")
      g_options.serviceName = value;
    else if (key == "--pipe")
      g_options.pipeName = value;
    else if (key == "--log")
      g_options.logPath = value;
    else if (key == "--reply") {
      g_options.reply = fake::FromHex(value);
      g_options.hasReply = !g_options.reply.empty();
    } else if (key == "--silent")
      g_options.silent = value == "1";
    else if (key == "--class")
      g_options.windowClass = value;
    else if (key == "--caption")
      g_options.caption = value;
    else if (key == "--legacy")
      g_options.legacy = value == "1";
    else if (key == "--ready")
      g_options.readyEvent = value;
    else if (key == "--parent")
      g_options.parent = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
    else
      return false;
  }
  return !g_options.pipeName.empty();
}

void WriteAll(HANDLE handle, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!::WriteFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
        written == 0)
      return;
    done += written;
  }
}

// One client connection: every byte until the client closes is one record.
void ServeConnection(HANDLE pipe) {
  std::string received;
  std::uint64_t firstByte = 0;
  bool answered = false;
  char buffer[512];
  // The pipe has no buffer, so the client's write completes only once all
  // of it is read: taking the time after the first byte and before the
  // rest orders the records of several fakes as the client wrote them.
  DWORD want = 1;
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(pipe, buffer, want, &got, nullptr) || got == 0) break;
    if (received.empty()) firstByte = fake::Now();
    want = sizeof(buffer);
    received.append(buffer, got);
    if (!answered && received.size() >= 16) {
      answered = true;
      fake::LogRecord request;
      request.bytes = received.substr(0, 16);
      if (request.Command() == CommandWithReply && !g_options.silent) {
        if (!g_options.hasReply) break;
        WriteAll(pipe, g_options.reply);
      }
    }
  }
  fake::AppendLog(g_options.logPath, 'P', received, firstByte != 0 ? firstByte : fake::Now());
  ::DisconnectNamedPipe(pipe);
  ::CloseHandle(pipe);
}

HANDLE NewInstance() {
  const std::string path = "\\\\.\\pipe\\" + g_options.pipeName;
  return ::CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, 0, 0, 0, nullptr);
}

// Keeps one listening instance at all times: the next one is created right
// after a client connects, before that client is served.
void ListenLoop(HANDLE listening) {
  while (listening != INVALID_HANDLE_VALUE) {
    const BOOL connected = ::ConnectNamedPipe(listening, nullptr) || ::GetLastError() == ERROR_PIPE_CONNECTED;
    const HANDLE next = NewInstance();
    if (connected)
      std::thread(ServeConnection, listening).detach();
    else
      ::CloseHandle(listening);
    listening = next;
  }
}

std::string HexText(std::uintptr_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%lX", static_cast<unsigned long>(value));
  return text;
}

std::string LegacyKey() { return "System\\CurrentControlSet\\Services\\Pipes\\" + g_options.pipeName; }

// The publication of systems without named pipes: a mutex of the pipe's
// name, and under the registry key the process id, the read end of the reply
// pipe (HRP) and the write end of the request pipe (HWP).
bool StartLegacy() {
  if (::CreateMutexA(nullptr, FALSE, g_options.pipeName.c_str()) == nullptr) return false;
  HANDLE requestRead = nullptr, requestWrite = nullptr, replyRead = nullptr, replyWrite = nullptr;
  if (!::CreatePipe(&requestRead, &requestWrite, nullptr, 4096) ||
      !::CreatePipe(&replyRead, &replyWrite, nullptr, 4096))
    return false;
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, LegacyKey().c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
    return false;
  const auto put = [key](const char* name, std::uintptr_t value) {
    const std::string text = HexText(value);
    ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>(text.size() + 1));
  };
  put("PID", ::GetCurrentProcessId());
  put("HRP", reinterpret_cast<std::uintptr_t>(replyRead));
  put("HWP", reinterpret_cast<std::uintptr_t>(requestWrite));
  ::RegCloseKey(key);

  std::thread([requestRead, replyWrite] {
    std::string pending;
    char buffer[512];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(requestRead, buffer, sizeof(buffer), &got, nullptr) || got == 0) return;
      const std::uint64_t time = fake::Now();
      pending.append(buffer, got);
      // No connection marks where a request ends here: each 16 bytes are one.
      while (pending.size() >= 16) {
        fake::LogRecord request;
        request.bytes = pending.substr(0, 16);
        pending.erase(0, 16);
        fake::AppendLog(g_options.logPath, 'P', request.bytes, time);
        if (request.Command() == CommandWithReply && g_options.hasReply) WriteAll(replyWrite, g_options.reply);
      }
    }
  }).detach();
  return true;
}

bool StartChannel() {
  if (g_options.legacy) return StartLegacy();
  const HANDLE first = NewInstance();
  if (first == INVALID_HANDLE_VALUE) return false;
  std::thread(ListenLoop, first).detach();
  return true;
}

void SignalReady() {
  if (g_options.readyEvent.empty()) return;
  const HANDLE ready = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, g_options.readyEvent.c_str());
  if (ready != nullptr) {
    ::SetEvent(ready);
    ::CloseHandle(ready);
  }
}

// Runs until stopped (service) or until the parent process ends.
int RunFake() {
  std::unique_ptr<fake::FakeWindow> window;
  if (!g_options.windowClass.empty()) {
    window = std::make_unique<fake::FakeWindow>(g_options.windowClass, g_options.caption, g_options.logPath);
    if (!window->Ready()) return 3;
  }
  if (!StartChannel()) return 4;
  if (g_statusHandle != nullptr) {
    g_status.dwCurrentState = SERVICE_RUNNING;
    ::SetServiceStatus(g_statusHandle, &g_status);
  }
  SignalReady();

  HANDLE waits[2] = {g_stop, nullptr};
  DWORD count = 1;
  if (g_options.parent != 0) {
    waits[1] = ::OpenProcess(SYNCHRONIZE, FALSE, g_options.parent);
    if (waits[1] == nullptr) return 5;  // the test is gone already
    count = 2;
  }
  ::WaitForMultipleObjects(count, waits, FALSE, INFINITE);
  if (g_options.legacy) ::RegDeleteKeyA(HKEY_LOCAL_MACHINE, LegacyKey().c_str());
  return 0;
}

DWORD WINAPI ControlHandler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    g_status.dwCurrentState = SERVICE_STOP_PENDING;
    ::SetServiceStatus(g_statusHandle, &g_status);
    ::SetEvent(g_stop);
  }
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, char**) {
  g_statusHandle = ::RegisterServiceCtrlHandlerExA(g_options.serviceName.c_str(), ControlHandler, nullptr);
  if (g_statusHandle == nullptr) return;
  g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  g_status.dwCurrentState = SERVICE_START_PENDING;
  g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  ::SetServiceStatus(g_statusHandle, &g_status);
  const int code = RunFake();
  g_status.dwCurrentState = SERVICE_STOPPED;
  g_status.dwWin32ExitCode = code == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  g_status.dwServiceSpecificExitCode = static_cast<DWORD>(code);
  ::SetServiceStatus(g_statusHandle, &g_status);
}

}  // namespace

int main(int argc, char** argv) {
  if (!ParseOptions(argc, argv)) {
    std::fprintf(stderr, "fake_service: bad arguments\n");
    return 2;
  }
  g_stop = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (g_options.serviceName.empty()) {
    const int code = RunFake();
    ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
    return code;
  }

  SERVICE_TABLE_ENTRYA table[] = {{g_options.serviceName.data(), ServiceMain}, {nullptr, nullptr}};
  const int code = ::StartServiceCtrlDispatcherA(table) ? 0 : 1;
  // Connection threads may still be inside a read: end without running
  // the static destructors under them.
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
  return code;
}
