#include "core/antispam/RuleFiles.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <utility>

#include "core/mime/LocaleCharsets.h"
#include "core/util/Numbers.h"
#include "core/util/Text.h"

namespace core {
namespace {

constexpr std::size_t NameLength = 32;
constexpr std::size_t DescriptionLength = 50;
constexpr std::int32_t FlagBase = 256;
constexpr std::int32_t FlagIgnoreCase = 1;
constexpr std::int32_t FlagMultiLine = 4;
constexpr std::int32_t FlagDotAll = 8;

// Tabs as blanks, runs of blanks as one, no blank at either end: the form
// every directive is split in.
std::string Collapse(std::string_view line) {
  std::string out;
  out.reserve(line.size());
  for (char c : line) {
    if (c == '\t') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(c);
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// Word index of a collapsed text; withRest: that word and everything after.
std::string_view Word(std::string_view text, int index, bool withRest = false) {
  std::size_t start = 0;
  for (int i = 0; i < index; ++i) {
    const std::size_t blank = text.find(' ', start);
    if (blank == std::string_view::npos) return {};
    start = blank + 1;
  }
  if (start >= text.size()) return {};
  if (withRest) return text.substr(start);
  const std::size_t end = text.find(' ', start);
  return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

template <typename Each>
void ForEachWordAfter(std::string_view text, int first, Each each) {
  std::string_view rest = Word(text, first, true);
  while (!rest.empty()) {
    const std::size_t blank = rest.find(' ');
    each(rest.substr(0, blank));
    if (blank == std::string_view::npos) break;
    rest.remove_prefix(blank + 1);
  }
}

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

bool IntOne(std::string_view word) { return TextToInt(word) == 1; }

}  // namespace

bool WildcardMatch(std::string_view mask, std::string_view name) {
  // Iterative with one backtrack point: linear in practice, never recursive.
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  std::size_t m = 0, n = 0, starM = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (m < mask.size() && (mask[m] == '?' || lower(mask[m]) == lower(name[n]))) {
      ++m;
      ++n;
    } else if (starM != std::string_view::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*')
    ++m;
  return m == mask.size();
}

bool SpamAssassinUnit::LoadSpamAssassinRules(RuleSource& source, std::string_view folderText, bool checkChanged,
                                             bool skipCustom) {
  std::string folder(folderText);
  if (!folder.empty() && folder.back() != '\\') folder.push_back('\\');

  std::unique_lock hold(lock_);
  compiler_.Bind();
  // Taken before the files are read, so an edit during the load is seen by
  // the next one.
  const std::optional<RuleFileStamp> stamp = source.Stamp(folder + "local.cf");
  const bool unchanged = checkChanged && haveKey_ && keyFolder_ == folder && keyStamp_ == stamp;
  if (!unchanged) {
    Clear();
    bool clean = true;
    for (char n = '1'; n <= '9'; ++n)
      clean &= LoadRuleFile(source, folder, std::string(1, n) + "*.cf");
    if (!skipCustom) clean &= LoadRuleFile(source, folder + "Custom\\", "*");
    clean &= LoadRuleFile(source, folder, "local.cf");
    // A load that met an I/O error is repeated next time.
    haveKey_ = clean;
    keyFolder_ = folder;
    keyStamp_ = stamp;
  }
  ApplyDefaults();
  return true;
}

bool SpamAssassinUnit::LoadRuleFile(RuleSource& source, const std::string& folder, const std::string& mask) {
  bool clean = true;
  for (const std::string& name : source.List(folder, mask)) {
    const RuleReadResult result = source.ReadLines(folder + name, [this](std::string_view raw) {
      const std::string_view line = TrimView(raw);
      if (line.empty() || line.front() == '#') return;
      ParseLine(line);
    });
    // The lines read so far stay; the other files still load.
    if (result == RuleReadResult::IoError) clean = false;
  }
  return clean;
}

void SpamAssassinUnit::ParseSpamAssassinLine(std::string_view line) {
  std::unique_lock hold(lock_);
  ParseLine(line);
}

namespace {

enum class Step : std::uint8_t {
  Rule,
  Address,
  Describe,
  Score,
  RequiredHits,
  Flag,
  Number,
  SubjectTag,
  OkLocales,
  DnsAvailable,
  ClearHeaders,
  AddHeader,
  RemoveHeader,
  ClearTrusted,
  Trusted,
  ClearReport,
  ReportContact,
  Report,
};

// One row per keyword, sorted for a binary search.
struct Directive {
  std::string_view keyword;
  Step step;
  std::uint8_t kind = 0;  // Rule: the rule kind; Address: the list kind
  std::uint8_t sub = 0;   // Rule: the URI list kind; Address: the direction (1 sender)
  bool remove = false;    // Address
  bool TSASettings::*flag = nullptr;
  std::int32_t TSASettings::*number = nullptr;
};

constexpr Directive Directives[] = {
    {.keyword = "add_header", .step = Step::AddHeader},
    {.keyword = "all_spam_to", .step = Step::Address, .kind = 3, .sub = 0},
    {.keyword = "bayes_auto_learn", .step = Step::Flag, .flag = &TSASettings::BayesAutoLearn},
    {.keyword = "blacklist_from", .step = Step::Address, .kind = 0, .sub = 1},
    {.keyword = "blacklist_to", .step = Step::Address, .kind = 0, .sub = 0},
    {.keyword = "body", .step = Step::Rule, .kind = 2},
    {.keyword = "clear_headers", .step = Step::ClearHeaders},
    {.keyword = "clear_report_template", .step = Step::ClearReport},
    {.keyword = "clear_trusted_networks", .step = Step::ClearTrusted},
    {.keyword = "describe", .step = Step::Describe},
    {.keyword = "dns_available", .step = Step::DnsAvailable},
    {.keyword = "fold_headers", .step = Step::Flag, .flag = &TSASettings::FoldHeaders},
    {.keyword = "full", .step = Step::Rule, .kind = 0},
    {.keyword = "header", .step = Step::Rule, .kind = 1},
    {.keyword = "meta", .step = Step::Rule, .kind = 5},
    {.keyword = "more_spam_to", .step = Step::Address, .kind = 2, .sub = 0},
    {.keyword = "ok_locales", .step = Step::OkLocales},
    {.keyword = "rawbody", .step = Step::Rule, .kind = 4},
    {.keyword = "rbl_timeout", .step = Step::Number, .number = &TSASettings::RblTimeout},
    {.keyword = "remove_header", .step = Step::RemoveHeader},
    {.keyword = "report", .step = Step::Report},
    {.keyword = "report_contact", .step = Step::ReportContact},
    {.keyword = "report_safe", .step = Step::Number, .number = &TSASettings::ReportSafe},
    {.keyword = "required_hits", .step = Step::RequiredHits},
    {.keyword = "rewrite_subject", .step = Step::Flag, .flag = &TSASettings::RewriteSubject},
    {.keyword = "score", .step = Step::Score},
    {.keyword = "skip_rbl_check", .step = Step::Flag, .flag = &TSASettings::SkipRblCheck},
    {.keyword = "subject_tag", .step = Step::SubjectTag},
    {.keyword = "trusted_networks", .step = Step::Trusted},
    {.keyword = "unblacklist_from", .step = Step::Address, .kind = 0, .sub = 1, .remove = true},
    {.keyword = "unwhitelist_from", .step = Step::Address, .kind = 1, .sub = 1, .remove = true},
    {.keyword = "uri", .step = Step::Rule, .kind = 3},
    {.keyword = "uridnsbl", .step = Step::Rule, .kind = 5, .sub = 1},
    {.keyword = "urirhsbl", .step = Step::Rule, .kind = 5, .sub = 2},
    {.keyword = "urirhssub", .step = Step::Rule, .kind = 5, .sub = 3},
    {.keyword = "use_bayes", .step = Step::Flag, .flag = &TSASettings::UseBayes},
    {.keyword = "use_spf", .step = Step::Flag, .flag = &TSASettings::UseSpf},
    {.keyword = "use_surbl", .step = Step::Flag, .flag = &TSASettings::UseSurbl},
    {.keyword = "whitelist_from", .step = Step::Address, .kind = 1, .sub = 1},
    {.keyword = "whitelist_to", .step = Step::Address, .kind = 1, .sub = 0},
};
static_assert(std::ranges::is_sorted(Directives, {}, &Directive::keyword));

const Directive* FindDirective(std::string_view keyword) {
  const auto found = std::ranges::lower_bound(Directives, keyword, {}, &Directive::keyword);
  return found != std::end(Directives) && found->keyword == keyword ? found : nullptr;
}

}  // namespace

void SpamAssassinUnit::ParseLine(std::string_view raw) {
  // The keyword first: most lines of a rules folder hold keywords this reader
  // ignores, and those need no more work.
  std::size_t start = 0;
  while (start < raw.size() && (raw[start] == ' ' || raw[start] == '\t'))
    ++start;
  std::size_t end = start;
  while (end < raw.size() && raw[end] != ' ' && raw[end] != '\t')
    ++end;
  const Directive* directive = FindDirective(raw.substr(start, end - start));
  if (directive == nullptr) return;

  const std::string line = Collapse(raw);
  const std::string_view word1 = Word(line, 1).substr(0, ShortTextLength);
  const std::string_view rest = Word(line, 2, true);
  TSASettings& s = settings_;
  switch (directive->step) {
    case Step::Rule:
      if (directive->sub != 0 && variant_ == RuleVariant::Sender) return;
      ParseRuleTest(directive->kind, word1, std::string(rest), directive->sub);
      return;
    case Step::Address:
      ParseAddressListDirective(line, directive->kind, directive->sub, directive->remove);
      return;
    case Step::Describe:
      SetRuleDescription(word1, line);
      return;
    case Step::Score:
      SetRuleScore(word1, rest);
      return;
    case Step::RequiredHits:
      s.RequiredHits = TextToFloat(word1);
      return;
    case Step::Flag:
      s.*(directive->flag) = IntOne(word1);
      return;
    case Step::Number:
      s.*(directive->number) = TextToInt(word1);
      return;
    case Step::SubjectTag:
      s.SubjectTag = std::string(Word(line, 1, true));
      return;
    case Step::OkLocales:
      ParseOkLocales(line);
      return;
    case Step::DnsAvailable:
      s.DnsAvailable = word1 != "no";
      return;
    case Step::ClearHeaders:
      s.AddHeaders.clear();
      return;
    case Step::AddHeader:
      ParseAddHeader(line, false);
      return;
    case Step::RemoveHeader:
      ParseAddHeader(line, true);
      return;
    case Step::ClearTrusted:
      s.TrustedNetworks.clear();
      return;
    case Step::Trusted:
      ParseTrustedNetworks(line);
      return;
    case Step::ClearReport:
      s.ReportTemplate.clear();
      return;
    case Step::ReportContact:
      s.ReportContact = std::string(word1);
      return;
    case Step::Report:
      AddReportLine(line);
      return;
  }
}

void SpamAssassinUnit::ParseRuleTest(std::uint8_t kind, std::string_view nameText, std::string test,
                                     std::uint8_t listKind) {
  if (nameText.empty()) return;  // nothing could ever refer to it
  int at = Find(nameText);
  const bool isNew = at < 0;
  if (isNew) {
    at = static_cast<int>(rules_.size());
    rules_.emplace_back();
    rules_.back().Name = CutTo(nameText, NameLength);
    index_.emplace(rules_.back().Name, at);
  }
  TSAFilter& rule = rules_[static_cast<std::size_t>(at)];
  if (!isNew) {
    // The old test goes entirely: a handle left here would leak, and an
    // invalid new test must not keep the old pattern under the new text.
    if (rule.Pattern != 0) compiler_.Free(rule.Pattern);
    rule.TestType = 0;
    rule.Pattern = 0;
    rule.PatternFlags = 0;
    rule.HeaderName.clear();
    rule.Argument.clear();
    rule.Negate = false;
    rule.ListName.clear();
    rule.ListKind = 0;
  }
  rule.Kind = kind;
  rule.Text = test;
  for (double& score : rule.Scores)
    score = 1.0;

  bool multiLine = false;
  constexpr std::string_view ifUnset = "[if-unset: ";
  if (kind == 1 && !StartsWith(test, "exists:") && !StartsWith(test, "eval:")) {
    const std::string_view header = Word(test, 0);
    rule.HeaderName = CutTo(header, ShortTextLength);
    multiLine = header == "MESSAGEID";
    const std::string_view op = Word(test, 1);
    if (op == "=~") rule.Negate = false;
    if (op == "!~") rule.Negate = true;
    const std::size_t unset = test.find(ifUnset);
    if (unset != std::string::npos) {
      const std::size_t from = unset + ifUnset.size();
      const std::size_t close = test.find(']', from);
      rule.Argument =
          CutTo(TrimView(std::string_view(test).substr(from, close == std::string::npos ? close : close - from)),
                ShortTextLength);
    }
    std::string rest(Word(test, 2, true));
    const std::size_t cut = rest.find(ifUnset);
    if (cut != std::string::npos) rest = Trim(std::string_view(rest).substr(0, cut));
    test = std::move(rest);
  }
  if (kind == 3) multiLine = true;

  bool valid = true;
  const std::string_view t = test;
  if (listKind != 0) {
    rule.ListKind = listKind;
    rule.ListName = CutTo(t, NameLength);
    rule.TestType = 3;
  } else if (t.empty()) {
    valid = false;
  } else if (StartsWith(t, "exists:")) {
    rule.TestType = 2;
    const std::string_view after = t.substr(7);
    rule.HeaderName = CutTo(after.substr(0, after.find(':')), ShortTextLength);
  } else if (StartsWith(t, "eval:")) {
    rule.TestType = 3;
    const std::string_view after = t.substr(5);
    const std::size_t open = after.find('(');
    const std::size_t close = after.rfind(')');
    rule.HeaderName = CutTo(after.substr(0, open), ShortTextLength);
    rule.Argument.clear();
    if (open != std::string_view::npos && close != std::string_view::npos && close > open)
      rule.Argument = CutTo(after.substr(open + 1, close - open - 1), ShortTextLength);
  } else if (t.front() == '/' || StartsWith(t, "m{")) {
    const std::size_t openLength = t.front() == '/' ? 1 : 2;
    const std::size_t close = t.rfind(t.front() == '/' ? '/' : '}');
    if (close == std::string_view::npos || close < openLength) {
      valid = false;  // the only delimiter is the opening one
    } else {
      const std::string pattern = Trim(t.substr(openLength, close - openLength));
      const std::string_view modifiers = t.substr(close + 1);
      rule.Text = "/" + pattern + "/" + std::string(modifiers);
      std::int32_t flags = FlagBase;
      if (modifiers.find('i') != std::string_view::npos) flags |= FlagIgnoreCase;
      if (modifiers.find('s') != std::string_view::npos) flags |= FlagDotAll;
      if (multiLine || modifiers.find('m') != std::string_view::npos) flags |= FlagMultiLine;
      rule.TestType = 1;
      rule.PatternFlags = flags;
      rule.Pattern = compiler_.Compile(pattern, flags);
      valid = rule.Pattern != 0;
    }
  } else {
    valid = false;
  }

  if (isNew && kind != 5 && (!valid || rule.TestType == 0)) {
    const auto found = index_.find(rule.Name);
    if (found != index_.end() && found->second == at) index_.erase(found);
    rules_.pop_back();
  }
}

int SpamAssassinUnit::Find(std::string_view name) const {
  if (name.size() > NameLength) return -1;  // stored names are cut: a longer one never matches
  const auto found = index_.find(name);
  return found == index_.end() ? -1 : found->second;
}

void SpamAssassinUnit::SetRuleScore(std::string_view name, std::string_view scores) {
  const int at = Find(name);
  if (at < 0) return;
  TSAFilter& rule = rules_[static_cast<std::size_t>(at)];
  rule.MultiScore = scores.find(' ') != std::string_view::npos;
  std::string_view first = Word(scores, 0);
  if (first.empty()) first = StartsWith(name, "T_") ? "0.01" : "1.0";
  rule.Scores[0] = TextToFloat(first);
  for (int i = 1; i < 4; ++i)
    rule.Scores[i] = rule.MultiScore ? TextToFloat(Word(scores, i)) : rule.Scores[0];
}

void SpamAssassinUnit::SetRuleDescription(std::string_view name, std::string_view line) {
  const int at = Find(name);
  if (at < 0) return;
  rules_[static_cast<std::size_t>(at)].Description = CutTo(TrimView(Word(line, 2, true)), DescriptionLength);
}

void SpamAssassinUnit::ParseAddHeader(std::string_view line, bool remove) {
  const std::string_view kindWord = Word(line, 1);
  const std::uint8_t kind = kindWord == "spam" ? 0 : kindWord == "ham" ? 1 : 2;
  const std::string name(Word(line, 2));
  if (remove) {
    for (TSAAddHeader& entry : settings_.AddHeaders)
      if (entry.Kind == kind && entry.Name == name) entry.Removed = true;
    return;
  }
  settings_.AddHeaders.push_back({kind, name, std::string(Word(line, 3, true)), false});
}

void SpamAssassinUnit::ParseAddressListDirective(std::string_view line, std::uint8_t listKind, std::uint8_t direction,
                                                 bool remove) {
  ForEachWordAfter(line, 1, [&](std::string_view word) {
    const std::string address = LowerCase(CutTo(word, ShortTextLength));
    if (!remove) {
      settings_.Addresses.push_back({listKind, direction, address, false});
      return;
    }
    for (TSAAddress& entry : settings_.Addresses)
      if (entry.ListKind == listKind && entry.Direction == direction && entry.Address == address) entry.Removed = true;
  });
}

void SpamAssassinUnit::ParseTrustedNetworks(std::string_view line) {
  ForEachWordAfter(line, 1, [&](std::string_view word) {
    std::string network(word);
    std::size_t dots = 0;
    for (char c : network)
      dots += c == '.' ? 1 : 0;
    const std::size_t slash = network.find('/');
    if (slash != std::string::npos && dots != 3) {
      network.resize(slash);
      network.push_back('.');
      ++dots;
    }
    if (!network.empty() && network.back() == '.' && dots >= 1 && dots <= 3) {
      network.push_back('*');
      for (std::size_t parts = dots; parts < 3; ++parts)
        network += ".*";
    }
    settings_.TrustedNetworks.push_back(std::move(network));
  });
}

void SpamAssassinUnit::AddReportLine(std::string_view line) {
  std::string_view text = TrimView(Word(line, 1, true));
  if (!text.empty() && text.front() == '"') text = text.size() >= 2 ? text.substr(1, text.size() - 2) : "";
  settings_.ReportTemplate.append(text);
  settings_.ReportTemplate += "\r\n";
}

void SpamAssassinUnit::ParseOkLocales(std::string_view line) {
  settings_.Charsets.clear();
  bool done = false;
  ForEachWordAfter(line, 1, [&](std::string_view word) {
    if (done) return;
    const std::string code = LowerCase(word);
    if (code == "all") {
      settings_.Charsets.clear();
      done = true;
      return;
    }
    for (const LocaleCharsets& row : LocaleCharsetTable()) {
      if (row.language != code) continue;
      if (row.charsets.empty()) {
        settings_.Charsets.emplace_back();
      } else {
        ForEachWordAfter(row.charsets, 0,
                         [&](std::string_view name) { settings_.Charsets.push_back(LowerCase(name)); });
      }
    }
  });
}

void SpamAssassinUnit::ClearSpamAssassinRules() {
  std::unique_lock hold(lock_);
  Clear();
}

void SpamAssassinUnit::Clear() {
  for (const TSAFilter& rule : rules_)
    if (rule.Pattern != 0) compiler_.Free(rule.Pattern);
  rules_.clear();
  index_.clear();
  settings_ = TSASettings{};
  const bool on = variant_ == RuleVariant::Api;
  settings_.UseBayes = on;
  settings_.UseSurbl = on;
}

void SpamAssassinUnit::Unload(bool processExit) {
  std::unique_lock hold(lock_);
  if (!processExit) {
    Clear();
    return;
  }
  rules_.clear();
  index_.clear();
  settings_ = TSASettings{};
}

void SpamAssassinUnit::ApplyDefaults() {
  if (settings_.RequiredHits == 0) settings_.RequiredHits = 3.0;
  if (settings_.SubjectTag.empty()) settings_.SubjectTag = "*****SPAM*****";
  if (settings_.RblTimeout == 0) settings_.RblTimeout = 15;
}

std::vector<TSAFilter> SpamAssassinUnit::Rules() const {
  std::shared_lock hold(lock_);
  return rules_;
}

void SpamAssassinUnit::SetServerValues(std::string hostName, std::string listText, std::uint8_t listByte) {
  std::unique_lock hold(lock_);
  settings_.HostName = std::move(hostName);
  settings_.ListText = std::move(listText);
  settings_.ListByte = listByte;
}

TSASettings SpamAssassinUnit::Settings() const {
  std::shared_lock hold(lock_);
  return settings_;
}

int SpamAssassinUnit::FindSpamAssassinRule(std::string_view name) const {
  std::shared_lock hold(lock_);
  return Find(name);
}

std::size_t SpamAssassinUnit::RuleCount() const {
  std::shared_lock hold(lock_);
  return rules_.size();
}

}  // namespace core
