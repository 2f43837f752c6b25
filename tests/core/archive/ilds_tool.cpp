// Command-line front of the archive routines, for the oracle tests and the
// benchmark:
//   ilds_tool pack ARCHIVE SOURCE [append] [raw] [flat] [prefix=P] [skip=LIST]
//   ilds_tool unpack ARCHIVE TARGET [keep] [keeplist=LIST] [offset=N]
//   ilds_tool acp                 prints the ANSI code page
// Prints "true" or "false" and exits 0 or 1 accordingly (2: wrong use).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/archive/FolderArchive.h"

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "acp") {
    std::printf("%u\n", ::GetACP());
    return 0;
  }
  if ((command != "pack" && command != "unpack") || argc < 4) {
    std::fprintf(stderr, "usage: ilds_tool pack|unpack ARCHIVE FOLDER [options]\n");
    return 2;
  }
  bool append = false, compress = true, recurse = true, overwrite = true;
  std::string prefix, list;
  unsigned long long offset = 0;
  for (int i = 4; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "append") {
      append = true;
    } else if (option == "raw") {
      compress = false;
    } else if (option == "flat") {
      recurse = false;
    } else if (option == "keep") {
      overwrite = false;
    } else if (option.rfind("prefix=", 0) == 0) {
      prefix = option.substr(7);
    } else if (option.rfind("skip=", 0) == 0 || option.rfind("keeplist=", 0) == 0) {
      list = option.substr(option.find('=') + 1);
    } else if (option.rfind("offset=", 0) == 0) {
      offset = std::strtoull(option.c_str() + 7, nullptr, 10);
    } else {
      std::fprintf(stderr, "unknown option %s\n", option.c_str());
      return 2;
    }
  }
  const core::PackOptions packing{
      .append = append, .prefix = prefix, .compress = compress, .skipList = list, .recurse = recurse};
  const bool ok = command == "pack" ? core::PackFolder(argv[2], argv[3], packing)
                                    : core::UnpackFolder(argv[2], argv[3], overwrite, list, offset);
  std::printf("%s\n", ok ? "true" : "false");
  return ok ? 0 : 1;
}
