#pragma once
// The rule files on Windows: the rules folder's listing and line reader, the
// outside pattern library "regex.dll", and one process-wide reader per
// library build.
#include <string>
#include <string_view>

#include "core/antispam/RuleFiles.h"
#include "core/platform/LibraryBinder.h"

namespace core {

// Lists with FindFirstFile, reads lines in binary (LF, CRLF and CR end a
// line), stamps with the full last-write time and size.
class WindowsRuleFiles : public RuleSource {
 public:
  std::vector<std::string> List(const std::string& folder, const std::string& mask) override;
  RuleReadResult ReadLines(const std::string& path, const std::function<void(std::string_view)>& line) override;
  std::optional<RuleFileStamp> Stamp(const std::string& path) override;
};

// "regex.dll" by full path from known folders only (this library's own
// folder, the installation root, the system folder), bound at the first
// Bind and never unloaded. Without the library or one of "recomp",
// "regexec", "regfree" nothing compiles.
class RegexLibrary : public PatternCompiler {
 public:
  void Bind() override;
  PatternHandle Compile(const std::string& pattern, std::int32_t flags) override;
  void Free(PatternHandle handle) override;
  bool Loaded() const { return recomp_ != nullptr; }

 private:
  // Called through a stack-restoring thunk, whatever their convention.
  struct Entries {
    void (*recomp)() = nullptr;
    void (*regexec)() = nullptr;
    void (*regfree)() = nullptr;
  };
  BoundLibrary<Entries> library_;
  bool bound_ = false;
  void* recomp_ = nullptr;
  void* regfree_ = nullptr;
};

// The folder this library's code lives in, with a trailing "\".
std::string OwnModuleFolder();

// The process-wide reader of this library's build.
SpamAssassinUnit& RulesUnit(RuleVariant variant);

// The rules load of the configuration load: the anti-spam folder, with the
// change check on.
bool LoadSpamAssassinRules(RuleVariant variant, std::string_view folder, bool checkChanged, bool skipCustom);
// Real unload only: frees the compiled patterns.
void UnloadSpamAssassinRules(RuleVariant variant);

}  // namespace core
