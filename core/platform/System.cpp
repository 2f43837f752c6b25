#include "core/platform/System.h"

#include "core/platform/Files.h"
#include "core/platform/Handles.h"
#include "core/util/Text.h"

#include <iphlpapi.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

namespace core {

namespace {

using GetAdaptersInfoFunction = DWORD(WINAPI*)(PIP_ADAPTER_INFO, PULONG);
using GetAffinityFunction = BOOL(WINAPI*)(HANDLE, PDWORD_PTR, PDWORD_PTR);
using SetAffinityFunction = BOOL(WINAPI*)(HANDLE, DWORD_PTR);

std::atomic<int> g_windowsNTOverride{-1};
std::atomic<LogonFunction> g_logonFunction{nullptr};

std::atomic<HMODULE> g_ipHelper{nullptr};
std::atomic<GetAdaptersInfoFunction> g_getAdaptersInfo{nullptr};

// The detour through a plain function pointer type keeps the conversion from
// GetProcAddress's generic signature free of warnings.
template <typename Function>
Function LookUp(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

// Owns an initialised process attribute list.
class AttributeList {
 public:
  AttributeList() = default;
  ~AttributeList() {
    if (ready_) ::DeleteProcThreadAttributeList(get());
  }
  AttributeList(const AttributeList&) = delete;
  AttributeList& operator=(const AttributeList&) = delete;

  // Prepares a list that lets a child inherit exactly these handles.
  bool InheritOnly(HANDLE* handles, std::size_t count) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    if (size == 0) return false;
    storage_.assign(size / sizeof(std::uint64_t) + 1, 0);
    if (!::InitializeProcThreadAttributeList(get(), 1, 0, &size)) return false;
    ready_ = true;
    return ::UpdateProcThreadAttribute(get(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, count * sizeof(HANDLE),
                                       nullptr, nullptr) != FALSE;
  }

  LPPROC_THREAD_ATTRIBUTE_LIST get() noexcept {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
  }

 private:
  std::vector<std::uint64_t> storage_;
  bool ready_ = false;
};

void AppendAddress(std::string& out, const char* text) {
  const std::string address(text, ::strnlen(text, sizeof(IP_ADDRESS_STRING::String)));
  if (address.empty() || address == "0.0.0.0") return;
  out += address;
  out += ';';
}

}  // namespace

void InitPlatformUnit() {
  if (g_ipHelper.load() != nullptr) return;
  HMODULE module = ::LoadLibraryA("iphlpapi.dll");
  if (module == nullptr) return;
  HMODULE expected = nullptr;
  if (!g_ipHelper.compare_exchange_strong(expected, module)) {
    ::FreeLibrary(module);
    return;
  }
  g_getAdaptersInfo.store(LookUp<GetAdaptersInfoFunction>(module, "GetAdaptersInfo"));
}

void DonePlatformUnit() {
  g_getAdaptersInfo.store(nullptr);
  HMODULE module = g_ipHelper.exchange(nullptr);
  if (module != nullptr) ::FreeLibrary(module);
}

bool IsWindowsNT() {
  const int forced = g_windowsNTOverride.load();
  if (forced >= 0) return forced != 0;
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!::GetVersionExA(&info)) return false;
  return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

void SetWindowsNTOverride(int value) { g_windowsNTOverride.store(value < 0 ? -1 : (value != 0 ? 1 : 0)); }

void SetLogonFunction(LogonFunction function) { g_logonFunction.store(function); }

bool ExecuteAndCapture(const std::string& command, std::uint32_t& exitCode, int showMode, std::string& output) {
  output.clear();
  exitCode = 0;
  try {
    // "command line|user;domain;password" runs as that user.
    std::string commandLine = command;
    UniqueHandle token;
    const std::size_t bar = command.find('|');
    if (bar != std::string::npos) {
      commandLine = command.substr(0, bar);
      const std::string account = command.substr(bar + 1);
      const std::string user = GetDelimitedItem(account, 0, ';');
      const std::string domain = GetDelimitedItem(account, 1, ';');
      const std::string password = GetDelimitedItem(account, 2, ';');
      LogonFunction logon = g_logonFunction.load();
      if (logon == nullptr) logon = ::LogonUserA;
      HANDLE userToken = nullptr;
      // Batch logon (4) with the default provider (0). A failed logon
      // runs nothing: running as the caller would widen the rights.
      if (!logon(user.c_str(), domain.empty() ? nullptr : domain.c_str(), password.c_str(), 4, 0, &userToken)) {
        return false;
      }
      token.reset(userToken);
      if (!token) return false;
    }
    if (commandLine.empty()) return false;

    // The read end stays with us; only the two write ends go to the child.
    HANDLE readRaw = nullptr;
    HANDLE writeRaw = nullptr;
    if (!::CreatePipe(&readRaw, &writeRaw, nullptr, 0)) return false;
    UniqueHandle readEnd(readRaw);
    UniqueHandle writeEnd(writeRaw);
    if (!::SetHandleInformation(writeEnd.get(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT)) return false;
    HANDLE errorRaw = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), writeEnd.get(), ::GetCurrentProcess(), &errorRaw, 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
      return false;
    }
    UniqueHandle errorEnd(errorRaw);

    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = static_cast<WORD>(showMode);
    startup.StartupInfo.hStdInput = nullptr;
    startup.StartupInfo.hStdOutput = writeEnd.get();
    startup.StartupInfo.hStdError = errorEnd.get();

    // Other inheritable handles of the process (another thread's pipe,
    // say) must not reach the child: it would keep that pipe open.
    DWORD flags = 0x40000030;  // new console, normal priority class
    AttributeList attributes;
    HANDLE inherited[2] = {writeEnd.get(), errorEnd.get()};
    if (attributes.InheritOnly(inherited, 2)) {
      startup.StartupInfo.cb = sizeof(STARTUPINFOEXA);
      startup.lpAttributeList = attributes.get();
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    } else {
      startup.StartupInfo.cb = sizeof(STARTUPINFOA);
    }

    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    PROCESS_INFORMATION info{};
    BOOL started = FALSE;
    if (token) {
      started = ::CreateProcessAsUserA(token.get(), nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                       nullptr, &startup.StartupInfo, &info);
    } else {
      started = ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                 &startup.StartupInfo, &info);
    }
    if (!started) return false;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);

    // Our copies of the write ends must go, or the pipe never ends.
    writeEnd.reset();
    errorEnd.reset();

    char buffer[2048];
    bool keep = true;
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(readEnd.get(), buffer, sizeof buffer, &got, nullptr)) break;
      if (keep && got > 0) {
        try {
          output.append(buffer, got);
        } catch (const std::bad_alloc&) {
          keep = false;  // drain the rest so the child is not blocked
        }
      }
    }

    // A child that closed its output is normally exiting: give it a moment
    // so its own exit code is reported, then stop it if it lingers.
    if (::WaitForSingleObject(process.get(), 1000) == WAIT_TIMEOUT) {
      ::TerminateProcess(process.get(), 0);
      ::WaitForSingleObject(process.get(), 1000);
    }
    DWORD code = 0;
    if (::GetExitCodeProcess(process.get(), &code) && code != STILL_ACTIVE) exitCode = code;
    return true;
  } catch (...) {
    return false;
  }
}

void SetProcessAffinity(bool allProcessors) {
  UniqueModule kernel(::LoadLibraryA("kernel32.dll"));
  if (kernel.get() == nullptr) return;
  const auto getMask = LookUp<GetAffinityFunction>(kernel.get(), "GetProcessAffinityMask");
  const auto setMask = LookUp<SetAffinityFunction>(kernel.get(), "SetProcessAffinityMask");
  if (getMask == nullptr || setMask == nullptr) return;
  DWORD_PTR processMask = 0;
  DWORD_PTR systemMask = 0;
  if (allProcessors) {
    if (!getMask(::GetCurrentProcess(), &processMask, &systemMask) || systemMask == 0) return;
    // Already so (every load after the first): setting it again would only
    // cost one more round trip to the system.
    if (processMask != systemMask) setMask(::GetCurrentProcess(), systemMask);
  } else {
    setMask(::GetCurrentProcess(), 1);
  }
}

std::string GetLocalIPAddresses() {
  std::string out;
  const GetAdaptersInfoFunction getAdaptersInfo = g_getAdaptersInfo.load();
  if (getAdaptersInfo == nullptr) return out;
  try {
    ULONG size = 0;
    DWORD result = getAdaptersInfo(nullptr, &size);
    std::vector<std::uint64_t> buffer;
    // The adapter list may grow between the two calls: ask again a few times.
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW && size > 0; ++attempt) {
      buffer.assign(size / sizeof(std::uint64_t) + 1, 0);
      size = static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t));
      result = getAdaptersInfo(reinterpret_cast<PIP_ADAPTER_INFO>(buffer.data()), &size);
    }
    if (result != ERROR_SUCCESS || buffer.empty()) return out;
    for (auto adapter = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
      if (adapter->CurrentIpAddress != nullptr) AppendAddress(out, adapter->CurrentIpAddress->IpAddress.String);
      for (auto entry = &adapter->IpAddressList; entry != nullptr; entry = entry->Next) {
        AppendAddress(out, entry->IpAddress.String);
      }
    }
  } catch (...) {
    // Out of memory: what was collected so far.
  }
  return out;
}

std::string ReadMachineRegistryText(const std::string& keyPath, const char* valueName, bool plainOnly) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return {};
  const UniqueKey key(opened);
  std::string text;
  ReadRegistryText(key.get(), valueName, plainOnly, text);
  return text;
}

bool ReadRegistryText(HKEY key, const char* valueName, bool plainOnly, std::string& text) {
  text.clear();
  char buffer[1024];
  DWORD type = 0;
  DWORD size = sizeof(buffer);
  if (::RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
      !(type == REG_SZ || (type == REG_EXPAND_SZ && !plainOnly)))
    return false;
  // The stored text need not be terminated; it ends at its first zero.
  const std::size_t length = size < sizeof(buffer) ? size : sizeof(buffer);
  text.assign(buffer, ::strnlen(buffer, length));
  return true;
}

std::string HostProgramFolder() {
  try {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
      const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
      if (length == 0) return std::string();
      if (length < buffer.size()) {
        std::string path(buffer.data(), length);
        const std::size_t slash = path.find_last_of("\\/");
        return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
      }
      if (buffer.size() >= 32768) return std::string();
      buffer.resize(buffer.size() * 2);
    }
  } catch (...) {
    return std::string();
  }
}

bool CheckWindowsLogon(const std::string& user, const char* domain, const std::string& password) {
  LogonFunction logon = g_logonFunction.load();
  if (logon == nullptr) logon = &::LogonUserA;
  HANDLE token = nullptr;
  if (!logon(user.c_str(), domain, password.c_str(), LOGON32_LOGON_NETWORK, LOGON32_PROVIDER_DEFAULT, &token))
    return false;
  UniqueHandle closeIt(token);
  return true;
}

}  // namespace core
