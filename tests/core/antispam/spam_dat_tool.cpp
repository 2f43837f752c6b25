// For the oracle: every DIR/NNN.dat read after the defaults and written back
// as DIR/NNN.out.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "core/antispam/SpamDat.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string folder = argv[1];
  for (int n = 0; n < 1000; ++n) {
    char base[16];
    std::snprintf(base, sizeof base, "/%03d", n);
    std::ifstream in(folder + base + ".dat", std::ios::binary);
    if (!in) break;
    std::stringstream text;
    text << in.rdbuf();
    core::SpamSettings settings = core::DefaultSpamSettings();
    core::ReadSpamDat(text.str(), settings);
    std::ofstream(folder + base + ".out", std::ios::binary) << core::WriteSpamDat(settings);
  }
  return 0;
}
