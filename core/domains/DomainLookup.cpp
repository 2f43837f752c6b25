// Lookup of a domain by a name from outside: exact name, punycode labels,
// address literals and the aliases of "subdomains.dat".
#include <memory>
#include <mutex>
#include <unordered_map>
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

// The parsed lines of "subdomains.dat", kept while the file's write time and
// size stay as they were read: a lookup still asks the file system for both
// each time, so a changed file is read again at once.
struct SubdomainLine {
  std::string pattern, target;
};
struct SubdomainList {
  std::string fileName;
  FileVersion version;
  std::vector<SubdomainLine> lines;  // in file order, only lines with "="
  // The first line of each pattern without "*", and the lines whose
  // patterns have one, in order: the first matching line decides.
  std::unordered_map<std::string, std::size_t> exact;
  std::vector<std::size_t> wildcards;
};

std::mutex g_subdomainMutex;
std::shared_ptr<const SubdomainList> g_subdomains;  // guarded by g_subdomainMutex

std::shared_ptr<const SubdomainList> ParseSubdomains(const std::string& fileName, const FileVersion& version,
                                                     const std::vector<std::string>& raw) {
  auto list = std::make_shared<SubdomainList>();
  list->fileName = fileName;
  list->version = version;
  for (const std::string& text : raw) {
    const std::string line = LowerCase(StripComments(CutTo(text, LineLength)));
    if (Trim(line).empty() || line.find('=') == std::string::npos) continue;
    const std::size_t at = list->lines.size();
    list->lines.push_back({Trim(GetDelimitedWord(line, 0, '=')), Trim(GetDelimitedWord(line, 1, '='))});
    const std::string& pattern = list->lines.back().pattern;
    if (pattern.find('*') != std::string::npos)
      list->wildcards.push_back(at);
    else
      list->exact.emplace(pattern, at);  // keeps the first line of a pattern
  }
  return list;
}

// The current lines, or null when the file is missing or cannot be read.
std::shared_ptr<const SubdomainList> CurrentSubdomains() {
  const std::string fileName = ConfigFolder() + "subdomains.dat";
  // The stamp before the read: a change during the read shows at the next lookup.
  const FileVersion version = GetFileTimeSize(fileName);
  if (version == FileVersion{}) return nullptr;
  {
    std::lock_guard<std::mutex> guard(g_subdomainMutex);
    if (g_subdomains && g_subdomains->version == version && g_subdomains->fileName == fileName) return g_subdomains;
  }
  std::vector<std::string> raw;
  if (!ReadTextLines(fileName, raw)) return nullptr;
  std::shared_ptr<const SubdomainList> list = ParseSubdomains(fileName, version, raw);
  std::lock_guard<std::mutex> guard(g_subdomainMutex);
  g_subdomains = list;
  return list;
}

// The first line whose pattern matches the name, or null.
const SubdomainLine* MatchingLine(const SubdomainList& list, const std::string& name) {
  const auto exact = list.exact.find(name);
  const std::size_t before = exact == list.exact.end() ? list.lines.size() : exact->second;
  for (const std::size_t at : list.wildcards) {
    if (at >= before) break;
    std::string candidate = name;
    ApplyWildcardMask(candidate, LineLength, list.lines[at].pattern);
    if (candidate == list.lines[at].pattern) return &list.lines[at];
  }
  return before < list.lines.size() ? &list.lines[before] : nullptr;
}

// "subdomains.dat" as one lookup sees it, asked for at most once however
// many alias hops the lookup follows.
struct SubdomainLines {
  bool read = false;
  std::shared_ptr<const SubdomainList> list;
};

int IndexOf(std::string& name, bool noRefresh, int hops, SubdomainLines& list);

int Subdomains(std::string& name, int hops, SubdomainLines& list) {
  if (hops >= MaxAliasHops) return -1;
  if (!list.read) {
    list.read = true;
    list.list = CurrentSubdomains();
  }
  if (!list.list) return -1;
  const SubdomainLine* line = MatchingLine(*list.list, name);
  if (line == nullptr) return -1;
  // A line mapping a name to itself ends the search.
  if (name == line->target) return -1;
  name = line->target;
  // The target must be served itself (or alias further): an unserved
  // target is no domain, never the first one.
  return IndexOf(name, true, hops + 1, list);
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
  // Every mail and login comes here: a name of usual length is lower-cased
  // on the stack, and a served name is found and remembered without a lock.
  char buffer[128];
  std::string longName;
  std::string_view asked;
  if (name.size() <= sizeof buffer) {
    LowerCaseInto(name, buffer);
    asked = std::string_view(buffer, name.size());
  } else {
    longName = LowerCase(name);
    asked = longName;
  }
  int index = -1;
  if (!DomainReloadPending()) {
    // No refresh due: the remembered pair, else (unless punycode labels may
    // rewrite the name) the exact entry, as the steps below would find it.
    const bool mayDecode = SettingOn(PunycodeNames) && asked.size() >= 5 && asked.find("xn--") != std::string::npos;
    index = DomainListRecallOrExact(asked, !mayDecode);
    if (index >= 0) return index;
  } else if (RecallLastLookup(asked, index)) {
    return index;
  }
  const std::uint64_t changes = DomainTableChanges();
  std::string wanted(asked);
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
