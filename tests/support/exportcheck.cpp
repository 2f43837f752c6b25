// Loads a built DLL and checks each listed export by name and by ordinal:
// both look-ups must succeed and give the same address. The list file has
// one "Name Ordinal" pair per line; "#" starts a comment.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: exportcheck <dll> <list>\n");
    return 2;
  }
  HMODULE module = LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (module == nullptr) {
    std::fprintf(stderr, "cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  std::ifstream list(argv[2]);
  if (!list) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 1;
  }
  int passed = 0, failed = 0;
  std::string line;
  while (std::getline(list, line)) {
    if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream fields(line);
    std::string name;
    unsigned ordinal = 0;
    if (!(fields >> name)) continue;
    if (!(fields >> ordinal) || ordinal == 0 || ordinal > 0xFFFF) {
      std::fprintf(stderr, "bad line: %s\n", line.c_str());
      ++failed;
      continue;
    }
    FARPROC byName = GetProcAddress(module, name.c_str());
    FARPROC byOrdinal = GetProcAddress(module, MAKEINTRESOURCEA(ordinal));
    if (byName == nullptr || byOrdinal == nullptr || byName != byOrdinal) {
      std::fprintf(stderr, "FAIL %s @%u: by name %p, by ordinal %p\n", name.c_str(), ordinal,
                   reinterpret_cast<void*>(byName), reinterpret_cast<void*>(byOrdinal));
      ++failed;
    } else {
      ++passed;
    }
  }
  FreeLibrary(module);
  std::printf("%d passed, %d failed\n", passed, failed);
  return (failed == 0 && passed > 0) ? 0 : 1;
}
