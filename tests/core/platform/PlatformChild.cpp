// Child program for the process tests.
//   print N CODE  writes N letters to standard output and "err" to standard error, then exits with CODE
//   touch FILE    creates FILE
//   handle H      exits with 10 when the signalled event with the hex handle value H is open here, else with 11
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const std::string verb = argc >= 3 ? argv[1] : "";
  if (verb == "print" && argc >= 4) {
    std::string text;
    for (long i = 0; i < std::strtol(argv[2], nullptr, 10); ++i)
      text += static_cast<char>('a' + i % 26);
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), "err", 3, &written, nullptr);
    return static_cast<int>(std::strtol(argv[3], nullptr, 10));
  }
  if (verb == "touch") {
    HANDLE file = ::CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file != INVALID_HANDLE_VALUE && ::CloseHandle(file) ? 0 : 2;
  }
  if (verb == "handle") {
    HANDLE handle = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::strtoul(argv[2], nullptr, 16)));
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) && ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0 ? 10 : 11;
  }
  return 1;
}
