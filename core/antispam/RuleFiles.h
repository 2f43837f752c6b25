#pragma once
// The rule files of the anti-spam filter: a rules folder read into a rule
// table and a rule settings record, pattern tests compiled through an outside
// pattern library. Portable: the files come from a RuleSource and patterns go
// to a PatternCompiler, so the reader runs natively over an in-memory folder.

#include <cstdint>
#include <functional>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace core {

// Api's reader, or the sending library's (no URI list rules, and a clear
// leaves "use_bayes" and "use_surbl" false).
enum class RuleVariant { Api, Sender };

// Compiled pattern handle of the outside library; 0 = not compiled.
using PatternHandle = std::uintptr_t;

struct TSAFilter {
  std::string Name;         // up to 32
  std::string Description;  // up to 50
  std::uint8_t Kind = 0;    // 0 full, 1 header, 2 body, 3 uri, 4 rawbody, 5 meta and URI lists
  bool MultiScore = false;
  double Scores[4] = {0, 0, 0, 0};
  std::string Text;
  std::string ListName;       // up to 32 (Api only)
  std::uint8_t ListKind = 0;  // 1 uridnsbl, 2 urirhsbl, 3 urirhssub (Api only)
  std::uint8_t TestType = 0;  // 0 none, 1 pattern, 2 exists, 3 eval or URI list
  PatternHandle Pattern = 0;
  std::int32_t PatternFlags = 0;
  std::string HeaderName;  // up to 255
  std::string Argument;    // up to 255
  bool Negate = false;
};

struct TSAAddHeader {
  std::uint8_t Kind = 2;  // 0 spam, 1 ham, 2 all
  std::string Name;
  std::string Text;
  bool Removed = false;
};

struct TSAAddress {
  std::uint8_t ListKind = 0;   // 0 black, 1 white, 2 more_spam_to, 3 all_spam_to
  std::uint8_t Direction = 0;  // 1 sender, 0 recipient
  std::string Address;         // up to 255, lower-cased
  bool Removed = false;
};

struct TSASettings {
  double RequiredHits = 0;
  bool UseBayes = false;
  bool FoldHeaders = false;
  std::string SubjectTag;
  bool RewriteSubject = false;
  std::int32_t ReportSafe = 0;
  bool BayesAutoLearn = false;
  std::string ReportContact;
  std::int32_t RblTimeout = 0;
  bool SkipRblCheck = false;
  bool DnsAvailable = false;
  bool UseSpf = false;
  bool UseSurbl = false;
  std::vector<TSAAddHeader> AddHeaders;
  std::vector<std::string> TrustedNetworks;
  std::vector<std::string> Charsets;
  std::vector<TSAAddress> Addresses;
  std::string HostName;
  std::string ReportTemplate;
  std::string ListText;  // up to 255, filled by the settings loader
  std::uint8_t ListByte = 0;
};

// Last-write time (full resolution) and size of a file.
struct RuleFileStamp {
  std::uint64_t writeTime = 0;
  std::uint64_t size = 0;
  bool operator==(const RuleFileStamp&) const = default;
};

enum class RuleReadResult { Done, NotOpened, IoError };

// Where the rule files come from. Paths use "\" as separator.
class RuleSource {
 public:
  virtual ~RuleSource() = default;
  // Names of the entries of folder (ends with "\") matching a wildcard mask
  // ("1*.cf", "*"), folders included.
  virtual std::vector<std::string> List(const std::string& folder, const std::string& mask) = 0;
  // Feeds every line of the file; lines read before an I/O error stay fed.
  virtual RuleReadResult ReadLines(const std::string& path, const std::function<void(std::string_view)>& line) = 0;
  // nullopt when the file is missing.
  virtual std::optional<RuleFileStamp> Stamp(const std::string& path) = 0;
};

// The outside pattern library.
class PatternCompiler {
 public:
  virtual ~PatternCompiler() = default;
  // Called at the start of every load, under the rules lock; binds once.
  virtual void Bind() {}
  virtual PatternHandle Compile(const std::string& pattern, std::int32_t flags) = 0;
  virtual void Free(PatternHandle handle) = 0;
};

// Case-insensitive wildcard match ("*" any run, "?" one character), as the
// directory listing applies it.
bool WildcardMatch(std::string_view mask, std::string_view name);

// One reader: the table, the settings record and the change-check key, under
// one reader-writer lock (load, clear and the steps exclusive; the readers
// shared, answering copies).
class SpamAssassinUnit {
 public:
  SpamAssassinUnit(RuleVariant variant, PatternCompiler& compiler) : variant_(variant), compiler_(compiler) {}
  SpamAssassinUnit(const SpamAssassinUnit&) = delete;
  SpamAssassinUnit& operator=(const SpamAssassinUnit&) = delete;
  ~SpamAssassinUnit() = default;  // leaves the patterns: call Unload first

  // Always true. Reloads unless checkChanged and the rules folder and the
  // stamp of its "local.cf" equal those of the last load without I/O error.
  bool LoadSpamAssassinRules(RuleSource& source, std::string_view folder, bool checkChanged, bool skipCustom);
  void ClearSpamAssassinRules();
  // A real unload frees every pattern; at process exit the outside library
  // may be gone already, so the patterns are left to it.
  void Unload(bool processExit);

  // One directive line, as a rule file holds it.
  void ParseSpamAssassinLine(std::string_view line);

  // The server's values the configuration load hands over after each load.
  void SetServerValues(std::string hostName, std::string listText, std::uint8_t listByte);

  std::vector<TSAFilter> Rules() const;
  TSASettings Settings() const;
  int FindSpamAssassinRule(std::string_view name) const;
  std::size_t RuleCount() const;

 private:
  bool LoadRuleFile(RuleSource& source, const std::string& folder, const std::string& mask);
  void ParseLine(std::string_view line);
  void ParseRuleTest(std::uint8_t kind, std::string_view name, std::string test, std::uint8_t listKind);
  int Find(std::string_view name) const;
  void SetRuleScore(std::string_view name, std::string_view scores);
  void SetRuleDescription(std::string_view name, std::string_view line);
  void ParseAddHeader(std::string_view line, bool remove);
  void ParseTrustedNetworks(std::string_view line);
  void AddReportLine(std::string_view line);
  void ParseOkLocales(std::string_view line);
  void ParseAddressListDirective(std::string_view line, std::uint8_t listKind, std::uint8_t direction, bool remove);
  void Clear();
  void ApplyDefaults();

  const RuleVariant variant_;
  PatternCompiler& compiler_;
  mutable std::shared_mutex lock_;
  std::vector<TSAFilter> rules_;
  // Looked up by view, without building a string.
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
  };
  std::unordered_map<std::string, int, NameHash, std::equal_to<>> index_;  // first entry of each stored name
  TSASettings settings_;
  bool haveKey_ = false;
  std::string keyFolder_;
  std::optional<RuleFileStamp> keyStamp_;
};

}  // namespace core
