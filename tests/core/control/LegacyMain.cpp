// Runs the tests as a Windows 98 program. Wine takes the Windows version of
// a program from HKCU\Software\Wine\AppDefaults\<exe name>\Version when the
// program starts, so a first start under the default version sets that
// value and starts the program again.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

constexpr const char* ChildMarker = "VM_LEGACY_CHILD";

bool ReportsWindowsNT()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    return ::GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

bool SetWindows98ForThisProgram()
{
    char path[MAX_PATH + 1] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = path;
    name = name.substr(name.find_last_of("\\/") + 1);
    HKEY key = nullptr;
    const std::string keyName = "Software\\Wine\\AppDefaults\\" + name;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, keyName.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const char value[] = "win98";
    const bool ok = ::RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof(value)) ==
                    ERROR_SUCCESS;
    ::RegCloseKey(key);
    return ok;
}

HANDLE InheritableStdHandle(DWORD which)
{
    HANDLE copy = nullptr;
    const HANDLE handle = ::GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
    ::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS);
    return copy;
}

int RunAsWindows98()
{
    if (!SetWindows98ForThisProgram()) {
        std::fprintf(stderr, "cannot set the Windows version of this program\n");
        return 1;
    }
    ::SetEnvironmentVariableA(ChildMarker, "1");
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = InheritableStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = InheritableStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = InheritableStdHandle(STD_ERROR_HANDLE);
    std::fflush(stdout);
    std::string commandLine = ::GetCommandLineA();
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "cannot start the program again: %lu\n", ::GetLastError());
        return 1;
    }
    ::CloseHandle(info.hThread);
    ::WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv)
{
    if (ReportsWindowsNT()) {
        if (::GetEnvironmentVariableA(ChildMarker, nullptr, 0) != 0) {
            std::fprintf(stderr, "the Windows 98 version setting was not taken\n");
            return 1;
        }
        return RunAsWindows98();
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
