// Stand-in for a program a template runs: writes "marker-<argument>.txt"
// ("none" without one) beside itself and prints "ran <argument>"; with the
// argument "lines" also the lines "." and ".x".
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string folder(self);
  folder.erase(folder.rfind('\\') + 1);
  const std::string argument = argc > 1 ? argv[1] : "none";
  const HANDLE file = ::CreateFileA((folder + "marker-" + argument + ".txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  std::string text = "ran " + argument;
  if (argument == "lines") text += "\r\n.\r\n.x\r\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  return 0;
}
