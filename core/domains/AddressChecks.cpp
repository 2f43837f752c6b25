#include "core/domains/AddressChecks.h"

#include <string>
#include <vector>

#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainTable.h"
#include "core/util/NameText.h"
#include "core/util/NetText.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t MaskLength = 255;

std::string CleanLine(std::string_view line) { return Trim(StripComments(line)); }

// The non-empty items of a ";"-list, each trimmed.
std::vector<std::string> ListItems(std::string_view list) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string item = Trim(list.substr(start, end - start));
    if (!item.empty()) items.push_back(std::move(item));
    start = end + 1;
  }
  return items;
}

bool MaskAdmits(std::string_view ip, std::string& mask) {
  std::string subject(ip);
  ApplyIPMask(subject, MaskLength, mask);
  return subject == mask;
}

}  // namespace

int CheckDomainShield(std::string_view domain, std::string_view ip) {
  try {
    std::vector<std::string> lines;
    if (!ReadTextLines(ConfigFolder() + "domainshield.dat", lines)) return 1;
    for (const std::string& raw : lines) {
      const std::string line = CleanLine(raw);
      if (line.empty()) continue;
      if (!SameText(GetDelimitedItem(line, 0, '='), domain)) continue;
      const std::size_t equals = line.find('=');
      const std::string items = equals == std::string::npos ? std::string() : line.substr(equals + 1);
      for (std::string& mask : ListItems(items)) {
        if (MaskAdmits(ip, mask)) return 1;
      }
      return 0;
    }
    return 1;
  } catch (...) {
    return 1;
  }
}

int IPInList(std::string_view list, std::string_view ip) {
  try {
    for (std::string& item : ListItems(list)) {
      if (IsIPPattern(item)) {
        if (MaskAdmits(ip, item)) return 1;
        continue;
      }
      const std::size_t at = item.find('@');
      if (at != std::string::npos) item = Trim(std::string_view(item).substr(at + 1));
      if (!item.empty() && GetU8(Settings().data(), cfg::DomainShield) != 0 && DomainListExists(item) &&
          CheckDomainShield(item, ip) == 1) {
        return 1;
      }
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

int CheckRelayIP(std::string_view ip, std::string_view list, bool useRelayFile, std::string_view relayFile) {
  try {
    const int result = IPInList(list, ip);
    if (!useRelayFile || result != 0) return result;
    const std::string file = relayFile.empty() ? ConfigFolder() + "relay.dat" : std::string(relayFile);
    std::vector<std::string> lines;
    if (!ReadTextLines(file, lines)) return result;
    for (const std::string& raw : lines) {
      const std::string line = CleanLine(raw);
      if (!line.empty() && IPInList(line, ip) == 1) return 1;
    }
    return result;
  } catch (...) {
    return 0;
  }
}

}  // namespace core
