#include "core/domains/DomainBindings.h"

#include <windows.h>

#include <atomic>
#include <vector>

#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/db/DbLibrary.h"
#include "core/domains/DomainTable.h"
#include "core/platform/Files.h"
#include "core/util/ListMatch.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t BindLength = 255;
constexpr std::uint8_t DatabaseStorageMode = 2;

// Remembered answer of UsesDomainBinding: -1 not worked out yet.
std::atomic<int> g_usesBinding{-1};

}  // namespace

bool WriteDomainBind(int index, std::string_view text, bool keepFile) {
  try {
    const std::string name = DomainListGetName(index);
    // Without a usable name the path would be the global "bind.dat" or
    // outside the configuration folder.
    std::string folder;
    if (!DomainFolder(name, folder)) return false;
    const std::string file = folder + "bind.dat";
    const std::string binding = Trim(text);
    std::string value;
    bool stored = true;
    if (!binding.empty()) {
      value = std::string(DomainBindMarker);
      if (!keepFile) {
        const std::string content = binding + "\r\n";
        stored = WriteFileAtomic(file, content.data(), content.size());
      }
    } else {
      stored = ::DeleteFileA(file.c_str()) || !FileExists(file);
    }
    if (GetU8(Settings().data(), cfg::StorageMode) != DatabaseStorageMode) {
      DomainListSetIP(index, value);
    } else if (IsDBLoaded()) {
      // The back end checks a caller's address against what it is given, so
      // it gets the binding itself; only the table holds the marker.
      stored = DbSetDomainIP(name.c_str(), binding.c_str()) && stored;
      DomainListSetIP(index, value);
    } else {
      stored = false;
    }
    return stored;
  } catch (...) {
    return false;
  }
}

std::string ReadDomainBind(int index) {
  try {
    std::string value = DomainListGetIP(index);
    if (value.empty()) return {};
    if (value == DomainBindMarker) value.clear();
    std::string line;
    // An entry without a usable name has no folder of its own.
    std::string folder;
    std::vector<std::string> lines;
    if (DomainFolder(DomainListGetName(index), folder) && ReadTextLines(folder + "bind.dat", lines) && !lines.empty())
      line = Trim(lines.front());
    std::string result = line.empty() ? value : value.empty() ? line : line + ";" + value;
    if (!result.empty() && result.front() == ';') result.erase(0, 1);
    return CutTo(result, BindLength);
  } catch (...) {
    return {};
  }
}

bool UsesDomainBinding() {
  int known = g_usesBinding.load();
  if (known < 0) {
    known = ReadDomainBind(0).empty() ? 0 : 1;
    g_usesBinding.store(known);
  }
  return known == 1;
}

void ForgetDomainBindingAnswer() { g_usesBinding.store(-1); }

bool FindDomainByIP(std::string_view ip, int& index) {
  const int count = static_cast<int>(DomainCount());
  for (int i = 0; i < count; ++i) {
    if (MatchStringLists(ip, ReadDomainBind(i))) {
      index = i;
      return true;
    }
  }
  return false;
}

}  // namespace core
