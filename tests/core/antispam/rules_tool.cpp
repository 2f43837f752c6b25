// Drives the rule reader for tests/core/antispam/rule_corpus.py, one command
// per line on stdin, answering "ok" (or "error ...") for each:
//   load FOLDER check|nocheck [skip] [sender]   a rules load
//   dump FILE [sender]                           the table and settings, in
//                                                the form of sa_rules.py
//   unload [sender]                              a real unload (frees all)
// Under Windows the process-wide readers bind "regex.dll" from this
// program's folder; natively a counting compiler writes the log lines the
// stand-in writes ("C handle flags hex", "F handle", "E handle") to the file
// named by REGEX_STANDIN_LOG.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>

#include "core/antispam/RuleFiles.h"

#ifdef _WIN32
#include <windows.h>

#include "core/antispam/RuleFilesWin.h"
#else
#include "tests/support/posix_rule_files.h"
#endif

namespace {

using core::RuleVariant;

std::string Escape(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c <= 32 || c >= 127 || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

std::string Bits(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
  return text;
}

std::string Dump(const core::TSASettings& s, const std::vector<core::TSAFilter>& rules) {
  std::ostringstream out;
  out << "required_hits " << Bits(s.RequiredHits) << "\n"
      << "use_bayes " << s.UseBayes << " fold_headers " << s.FoldHeaders << " rewrite_subject " << s.RewriteSubject
      << " report_safe " << s.ReportSafe << " bayes_auto_learn " << s.BayesAutoLearn << "\n"
      << "subject_tag " << Escape(s.SubjectTag) << "\n"
      << "report_contact " << Escape(s.ReportContact) << "\n"
      << "rbl_timeout " << s.RblTimeout << " skip_rbl_check " << s.SkipRblCheck << " dns_available " << s.DnsAvailable
      << " use_spf " << s.UseSpf << " use_surbl " << s.UseSurbl << "\n";
  for (const core::TSAAddHeader& h : s.AddHeaders)
    out << "add_header " << int{h.Kind} << " " << h.Removed << " " << Escape(h.Name) << " " << Escape(h.Text) << "\n";
  for (const std::string& t : s.TrustedNetworks)
    out << "trusted " << Escape(t) << "\n";
  for (const std::string& c : s.Charsets)
    out << "charset " << Escape(c) << "\n";
  for (const core::TSAAddress& a : s.Addresses)
    out << "address " << int{a.ListKind} << " " << int{a.Direction} << " " << a.Removed << " " << Escape(a.Address)
        << "\n";
  out << "host " << Escape(s.HostName) << "\n"
      << "report_template " << Escape(s.ReportTemplate) << "\n"
      << "list_text " << Escape(s.ListText) << " list_byte " << int{s.ListByte} << "\n"
      << "rules " << rules.size() << "\n";
  for (const core::TSAFilter& r : rules) {
    out << "rule " << Escape(r.Name) << " kind=" << int{r.Kind} << " multi=" << r.MultiScore << " scores=";
    for (int i = 0; i < 4; ++i)
      out << (i > 0 ? "," : "") << Bits(r.Scores[i]);
    out << " type=" << int{r.TestType} << " pattern=" << static_cast<unsigned long long>(r.Pattern)
        << " flags=" << r.PatternFlags << " negate=" << r.Negate << " list=" << int{r.ListKind} << ":"
        << Escape(r.ListName) << " header=" << Escape(r.HeaderName) << " argument=" << Escape(r.Argument)
        << " text=" << Escape(r.Text) << " description=" << Escape(r.Description) << "\n";
  }
  return out.str();
}

#ifdef _WIN32
core::SpamAssassinUnit& Unit(RuleVariant variant) { return core::RulesUnit(variant); }
void Load(RuleVariant variant, const std::string& folder, bool check, bool skip) {
  core::LoadSpamAssassinRules(variant, folder, check, skip);
}

#else
// The stand-in's numbering and log lines, natively.
class LoggingCompiler : public core::PatternCompiler {
 public:
  core::PatternHandle Compile(const std::string& pattern, std::int32_t flags) override {
    next_ += 16;
    live_.insert(next_);
    std::string hex;
    for (unsigned char c : std::string(pattern.c_str())) {
      char two[4];
      std::snprintf(two, sizeof two, "%02X", c);
      hex += two;
    }
    Log("C " + std::to_string(next_) + " " + std::to_string(flags) + " " + hex);
    return next_;
  }
  void Free(core::PatternHandle handle) override {
    Log((live_.erase(handle) == 1 ? "F " : "E ") + std::to_string(handle));
  }

 private:
  static void Log(const std::string& line) {
    if (const char* name = std::getenv("REGEX_STANDIN_LOG")) std::ofstream(name, std::ios::app) << line << "\n";
  }
  core::PatternHandle next_ = 4096;
  std::set<core::PatternHandle> live_;
};

LoggingCompiler g_compiler;
core::SpamAssassinUnit g_api(RuleVariant::Api, g_compiler), g_sender(RuleVariant::Sender, g_compiler);
core::SpamAssassinUnit& Unit(RuleVariant variant) { return variant == RuleVariant::Api ? g_api : g_sender; }
void Load(RuleVariant variant, const std::string& folder, bool check, bool skip) {
  testrules::PosixRuleFiles files;
  Unit(variant).LoadSpamAssassinRules(files, folder, check, skip);
}
#endif

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string command, argument, word;
    words >> command >> argument;
    bool check = false, skip = false;
    RuleVariant variant = RuleVariant::Api;
    while (words >> word) {
      check = check || word == "check";
      skip = skip || word == "skip";
      if (word == "sender") variant = RuleVariant::Sender;
    }
    if (argument == "sender") variant = RuleVariant::Sender;
    bool ok = true;
    if (command == "load") {
      Load(variant, argument, check, skip);
    } else if (command == "dump") {
      core::SpamAssassinUnit& unit = Unit(variant);
      std::ofstream(argument, std::ios::binary) << Dump(unit.Settings(), unit.Rules());
    } else if (command == "unload") {
      Unit(variant).Unload(false);
    } else if (command == "quit") {
      break;
    } else {
      ok = false;
    }
    std::cout << (ok ? "ok" : "error " + line) << std::endl;
  }
  return 0;
}
