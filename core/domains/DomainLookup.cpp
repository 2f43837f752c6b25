// Lookup of a domain by a name from outside: exact name, punycode labels,
// address literals and the aliases of "subdomains.dat".
#include <vector>

#include "core/config/ConfigFiles.h"
#include "core/config/ConfigStore.h"
#include "core/domains/DomainBindings.h"
#include "core/domains/DomainTable.h"
#include "core/mime/HeaderText.h"
#include "core/platform/Files.h"
#include "core/platform/System.h"
#include "core/platform/TextConversion.h"
#include "core/util/NameText.h"
#include "core/util/NetText.h"
#include "core/util/Punycode.h"
#include "core/util/Text.h"

namespace core {
namespace {

// An alias chain (a=b, b=c, ...) is followed this far; a cycle ends there.
constexpr int MaxAliasHops = 8;
constexpr std::size_t LineLength = 255;

bool SettingOn(FieldRef field) { return GetU8(Settings().data(), field) != 0; }
constexpr FieldRef PunycodeNames = ConfigField("PunycodeNames");
constexpr FieldRef AddressLiterals = ConfigField("AddressLiterals");

// "subdomains.dat", read at most once per lookup however many alias hops
// it follows.
struct SubdomainLines {
  bool read = false, readable = false;
  std::vector<std::string> lines;
};

int IndexOf(std::string& name, bool noRefresh, int hops, SubdomainLines& list);

int Subdomains(std::string& name, int hops, SubdomainLines& list) {
  if (hops >= MaxAliasHops) return -1;
  if (!list.read) {
    list.read = true;
    list.readable = ReadTextLines(ConfigFolder() + "subdomains.dat", list.lines);
  }
  if (!list.readable) return -1;
  for (const std::string& raw : list.lines) {
    const std::string line = LowerCase(StripComments(CutTo(raw, LineLength)));
    if (Trim(line).empty() || line.find('=') == std::string::npos) continue;
    const std::string pattern = Trim(GetDelimitedWord(line, 0, '='));
    const std::string target = Trim(GetDelimitedWord(line, 1, '='));
    std::string candidate = name;
    ApplyWildcardMask(candidate, LineLength, pattern);
    if (candidate != pattern) continue;
    // A line mapping a name to itself ends the search.
    if (name == target) return -1;
    name = target;
    // The target must be served itself (or alias further): an unserved
    // target is no domain, never the first one.
    return IndexOf(name, true, hops + 1, list);
  }
  return -1;
}

int IndexOf(std::string& name, bool noRefresh, int hops, SubdomainLines& list) {
  if (!noRefresh) CountDomains();
  if (name.empty()) return -1;
  if (SettingOn(PunycodeNames)) DecodeIDNName(name);
  int index = DomainListExactIndex(name);
  if (index < 0 && SettingOn(AddressLiterals) && name.find('[') != std::string::npos)
    index = ResolveIPLiteralDomain(name);
  if (index < 0 && SubdomainListExists()) index = Subdomains(name, hops, list);
  return index;
}

}  // namespace

int DomainListIndexOf(std::string& name, bool noRefresh) {
  SubdomainLines list;
  return IndexOf(name, noRefresh, 0, list);
}

int DomainListFind(std::string_view name, bool strict) {
  std::string wanted = LowerCase(name);
  int index = -1;
  if (RecallLastLookup(wanted, index)) return index;
  const std::string asked = wanted;
  const std::uint64_t changes = DomainTableChanges();
  index = DomainListIndexOf(wanted, false);
  if (index >= 0) {
    RememberLastLookup(asked, index, changes);
    return index;
  }
  return strict ? -1 : 0;
}

bool DomainListExists(std::string_view name) {
  std::string text = LowerCase(name);
  int index = -1;
  if (RecallLastLookup(text, index)) return true;
  if (text.find('@') != std::string::npos && text.find(':') == std::string::npos) text = ExtractDomainPart(text);
  const std::string asked = text;
  const std::uint64_t changes = DomainTableChanges();
  index = DomainListIndexOf(text, false);
  if (index < 0) return false;
  RememberLastLookup(asked, index, changes);
  return true;
}

bool DecodeIDNName(std::string& name) {
  if (name.size() < 5 || name.find("xn--") == std::string::npos) return false;
  std::string decoded;
  for (int i = 0;; ++i) {
    const std::string label = GetDelimitedItem(name, i, '.');
    if (label.empty()) break;
    std::string text = label;
    if (label.rfind("xn--", 0) == 0) {
      const std::u16string wide = PunycodeToWide(std::string_view(label).substr(4));
      // A label that does not decode, or whose characters have no exact
      // 8-bit form, leaves the name as it was.
      if (wide.empty() || !WideToAnsiExact(wide, text)) return false;
    }
    if (!decoded.empty()) decoded += '.';
    decoded += text;
  }
  name = decoded;
  return true;
}

int ResolveIPLiteralDomain(std::string& name) {
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  if (name.empty()) return -1;
  if (UsesDomainBinding()) {
    int index = -1;
    if (!FindDomainByIP(name, index)) return -1;
    name = DomainListGetName(index);
    return index;
  }
  const std::string local = ";" + GetLocalIPAddresses() + ";";
  if (local.find(";" + name + ";") == std::string::npos) return -1;
  name = DomainListGetName(0);
  return 0;
}

int ReadSubdomains(std::string& name) {
  SubdomainLines list;
  return Subdomains(name, 0, list);
}

void ResolveDomainName(std::string& name) {
  if (SettingOn(AddressLiterals) && !name.empty() && name.front() == '[') ResolveIPLiteralDomain(name);
  if (SettingOn(PunycodeNames)) DecodeIDNName(name);
  std::string folder;
  if (SubdomainListExists() && (!DomainFolder(name, folder) || !FileExists(folder + "domain.cfg")))
    ReadSubdomains(name);
}

}  // namespace core
