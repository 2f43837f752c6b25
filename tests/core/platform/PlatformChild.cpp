// Child program for the process tests.
//   print N CODE   writes N bytes to standard output and "err" to standard
//                  error, then exits with CODE
//   touch FILE     creates FILE
//   handle H       exits with 10 when the signalled event with the hex
//                  handle value H is open in this process, else with 11
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Write(DWORD which, const std::string& text)
{
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(which), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "print") == 0) {
        const long count = std::strtol(argv[2], nullptr, 10);
        std::string text;
        for (long i = 0; i < count; ++i) text += static_cast<char>('a' + i % 26);
        Write(STD_OUTPUT_HANDLE, text);
        Write(STD_ERROR_HANDLE, "err");
        return static_cast<int>(std::strtol(argv[3], nullptr, 10));
    }
    if (argc >= 3 && std::strcmp(argv[1], "touch") == 0) {
        HANDLE file = ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 2;
        ::CloseHandle(file);
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "handle") == 0) {
        const auto value = static_cast<std::uintptr_t>(std::strtoul(argv[2], nullptr, 16));
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        const bool open = ::GetHandleInformation(handle, &flags) && ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
        return open ? 10 : 11;
    }
    return 1;
}
