// Runs the tests as a Windows 98 program. Wine takes the Windows version of
// a program from HKCU\Software\Wine\AppDefaults\<exe name>\Version when the
// program starts, so a first start under the default version sets that
// value and starts the program again.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

bool SetWindows98ForThisProgram() {
  char path[MAX_PATH + 1] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string name(path);
  const std::string keyName = "Software\\Wine\\AppDefaults\\" + name.substr(name.find_last_of("\\/") + 1);
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_CURRENT_USER, keyName.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  const BYTE value[] = "win98";
  const LONG result = ::RegSetValueExA(key, "Version", 0, REG_SZ, value, sizeof(value));
  ::RegCloseKey(key);
  return result == ERROR_SUCCESS;
}

int RunAsWindows98() {
  if (!SetWindows98ForThisProgram()) return std::fprintf(stderr, "cannot set the Windows version\n"), 1;
  ::SetEnvironmentVariableA("VM_LEGACY_CHILD", "1");
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  std::string commandLine = ::GetCommandLineA();
  PROCESS_INFORMATION info{};
  if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
    return std::fprintf(stderr, "cannot start the program again: %lu\n", ::GetLastError()), 1;
  ::CloseHandle(info.hThread);
  ::WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(info.hProcess, &code);
  ::CloseHandle(info.hProcess);
  return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  if (::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    if (::GetEnvironmentVariableA("VM_LEGACY_CHILD", nullptr, 0) == 0) return RunAsWindows98();
    std::fprintf(stderr, "the Windows 98 version setting was not taken\n");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
