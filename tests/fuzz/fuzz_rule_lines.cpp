// Arbitrary rule files (split at byte 0x01 into the numbered file, a custom
// file and "local.cf"; byte 0 picks the variant and whether a second load
// and single lines follow), then a clear: every handle freed exactly once,
// the table's invariants held after each load.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "core/antispam/RuleFiles.h"

namespace {

class Compiler : public core::PatternCompiler {
 public:
  core::PatternHandle Compile(const std::string& pattern, std::int32_t flags) override {
    if ((flags & 256) == 0 || (flags & ~(256 | 8 | 4 | 1)) != 0) std::abort();
    if (!pattern.empty() && pattern[0] == 'R') return 0;  // some refusals
    live.insert(++next);
    return next;
  }
  void Free(core::PatternHandle handle) override {
    if (live.erase(handle) != 1) std::abort();
  }
  std::set<core::PatternHandle> live;
  core::PatternHandle next = 0;
};

class Files : public core::RuleSource {
 public:
  std::vector<std::string> List(const std::string& folder, const std::string& mask) override {
    std::vector<std::string> names;
    for (const auto& [path, content] : files)
      if (path.compare(0, folder.size(), folder) == 0 && path.find('\\', folder.size()) == std::string::npos &&
          core::WildcardMatch(mask, path.substr(folder.size())))
        names.push_back(path.substr(folder.size()));
    return names;
  }
  core::RuleReadResult ReadLines(const std::string& path, const std::function<void(std::string_view)>& line) override {
    std::string_view rest = files[path];
    while (!rest.empty()) {
      const std::size_t end = rest.find_first_of("\r\n");
      line(rest.substr(0, end));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
    return core::RuleReadResult::Done;
  }
  std::optional<core::RuleFileStamp> Stamp(const std::string&) override { return std::nullopt; }
  std::map<std::string, std::string> files;
};

void CheckTable(const core::SpamAssassinUnit& unit, const Compiler& compiler) {
  std::set<core::PatternHandle> held;
  for (const core::TSAFilter& rule : unit.Rules()) {
    if (rule.Name.empty() || rule.Name.size() > 32 || rule.Description.size() > 50 || rule.ListName.size() > 32 ||
        rule.HeaderName.size() > 255 || rule.Argument.size() > 255 || rule.Kind > 5 || rule.TestType > 3)
      std::abort();
    if (rule.Pattern != 0 && (rule.TestType != 1 || !held.insert(rule.Pattern).second)) std::abort();
    if (unit.FindSpamAssassinRule(rule.Name) < 0) std::abort();
  }
  if (held != compiler.live) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 65536) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  Files files;
  const char* names[] = {"R\\50_a.cf", "R\\Custom\\x", "R\\local.cf"};
  std::size_t start = 0;
  for (int i = 0; i < 3 && start <= input.size(); ++i) {
    const std::size_t end = std::min(input.find('\x01', start), input.size());
    files.files[names[i]] = std::string(input.substr(start, end - start));
    start = end + 1;
  }
  Compiler compiler;
  core::SpamAssassinUnit unit((mode & 1) ? core::RuleVariant::Sender : core::RuleVariant::Api, compiler);
  unit.LoadSpamAssassinRules(files, "R", true, false);
  CheckTable(unit, compiler);
  if (mode & 2) {
    unit.LoadSpamAssassinRules(files, "R", false, (mode & 4) != 0);
    CheckTable(unit, compiler);
  }
  if (mode & 8) {
    unit.ParseSpamAssassinLine(files.files["R\\local.cf"]);
    CheckTable(unit, compiler);
  }
  unit.ClearSpamAssassinRules();
  if (!compiler.live.empty() || unit.RuleCount() != 0) std::abort();
  return 0;
}
