// Loads a built DLL and checks each listed export by name and by ordinal:
// both look-ups must succeed and give the same address, and the DLL exports
// no other name. The list file has one "Name Ordinal" pair per line; "#"
// starts a comment. Lines "import NAME.dll", where present, list the only
// DLLs the built one may import (ASCII case ignored).
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The image's directory of the given kind, or null.
const void* Directory(HMODULE module, int kind, DWORD& size) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[kind];
  size = entry.Size;
  return entry.VirtualAddress == 0 ? nullptr : base + entry.VirtualAddress;
}

DWORD ExportedNames(HMODULE module) {
  DWORD size = 0;
  const auto* exports =
      static_cast<const IMAGE_EXPORT_DIRECTORY*>(Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT, size));
  return exports == nullptr ? 0 : exports->NumberOfNames;
}

std::set<std::string> ImportedDlls(HMODULE module) {
  std::set<std::string> names;
  DWORD size = 0;
  const auto* entry =
      static_cast<const IMAGE_IMPORT_DESCRIPTOR*>(Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT, size));
  for (; entry != nullptr && entry->Name != 0; ++entry)
    names.insert(Lower(reinterpret_cast<const char*>(module) + entry->Name));
  return names;
}

}  // namespace

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
  std::set<std::string> allowedImports;
  std::string line;
  while (std::getline(list, line)) {
    if (auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    std::istringstream fields(line);
    std::string name;
    unsigned ordinal = 0;
    if (!(fields >> name)) continue;
    if (name == "import") {
      std::string dll;
      fields >> dll;
      allowedImports.insert(Lower(dll));
      continue;
    }
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
  if (ExportedNames(module) != static_cast<DWORD>(passed + failed)) {
    std::fprintf(stderr, "FAIL the DLL exports %lu names, the list has %d\n", ExportedNames(module), passed + failed);
    ++failed;
  }
  if (!allowedImports.empty()) {
    for (const std::string& dll : ImportedDlls(module)) {
      if (allowedImports.count(dll) == 0) {
        std::fprintf(stderr, "FAIL imports %s\n", dll.c_str());
        ++failed;
      }
    }
  }
  FreeLibrary(module);
  std::printf("%d passed, %d failed\n", passed, failed);
  return (failed == 0 && passed > 0) ? 0 : 1;
}
