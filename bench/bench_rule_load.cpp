// The rules load over Debian's rule files (copied into a rules folder here)
// with a counting compiler, against reading the same files and splitting
// every line into words. Then 50,000 generated rules, each with a score and
// a describe line: the time per line, against the corpus's and against 5,000
// rules of the same form; a name lookup that scans the table would make it
// grow with the table (quadratic).

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/harness.h"
#include "core/antispam/RuleFiles.h"
#include "tests/support/posix_rule_files.h"

namespace {

namespace fs = std::filesystem;

class CountingCompiler : public core::PatternCompiler {
 public:
  core::PatternHandle Compile(const std::string& pattern, std::int32_t flags) override {
    bytes += pattern.size() + static_cast<std::size_t>(flags & 1);
    return ++count;
  }
  void Free(core::PatternHandle) override {}
  std::size_t count = 0, bytes = 0;
};

// Loads the folder once; answers the rules kept.
std::size_t Load(const std::string& folder) {
  CountingCompiler compiler;
  core::SpamAssassinUnit unit(core::RuleVariant::Api, compiler);
  testrules::PosixRuleFiles files;
  unit.LoadSpamAssassinRules(files, folder, false, false);
  const std::size_t rules = unit.RuleCount();
  unit.Unload(false);
  return rules;
}

// The same files read whole and split into lines and words.
std::size_t Split(const std::vector<std::string>& paths, std::size_t& lines) {
  std::size_t words = 0;
  lines = 0;
  for (const std::string& path : paths) {
    std::string data;
    testrules::ReadWhole(path, data);
    testrules::SplitLines(data, [&](std::string_view line) {
      ++lines;
      bool inWord = false;
      for (char c : line) {
        const bool blank = c == ' ' || c == '\t';
        if (!blank && !inWord) ++words;
        inWord = !blank;
      }
    });
  }
  return words;
}

// The files a load reads, in its order.
std::vector<std::string> Paths(const std::string& folder) {
  testrules::PosixRuleFiles files;
  std::vector<std::string> paths;
  for (char n = '1'; n <= '9'; ++n)
    for (const std::string& name : files.List(folder, std::string(1, n) + "*.cf"))
      paths.push_back(folder + name);
  for (const std::string& name : files.List(folder, "local.cf"))
    paths.push_back(folder + name);
  return paths;
}

// count rules, each with a describe and a score line.
void WriteGenerated(const std::string& path, int count) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  for (int i = 0; i < count; ++i)
    std::fprintf(file,
                 "body GEN_RULE_%05d /\\bword%d\\s+(?:other|thing)\\b/i\n"
                 "describe GEN_RULE_%05d Generated rule number %d of the benchmark\n"
                 "score GEN_RULE_%05d %d.%03d\n",
                 i, i, i, i, i, i % 5, i % 1000);
  std::fclose(file);
}

}  // namespace

int main() {
  const fs::path base = fs::temp_directory_path() / ("bench_rules_" + std::to_string(::getpid()));
  const std::string corpus = (base / "corpus").string() + "/", generated = (base / "generated").string() + "/",
                    small = (base / "small").string() + "/";
  for (const std::string& folder : {corpus, generated, small})
    fs::create_directories(folder);
  std::size_t copied = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator("/usr/share/spamassassin")) {
    const std::string name = entry.path().filename().string();
    if (name[0] >= '1' && name[0] <= '9' && entry.path().extension() == ".cf") {
      fs::copy_file(entry.path(), corpus + name);
      ++copied;
    }
  }
  for (const char* name : {"65_debian.cf", "local.cf"}) {
    std::error_code ignored;
    if (fs::copy_file(fs::path("/etc/spamassassin") / name, corpus + name, ignored)) ++copied;
  }
  if (copied < 10) {
    std::fprintf(stderr, "the rule-file package is not installed (scripts/setup.sh installs it)\n");
    return 1;
  }
  WriteGenerated(generated + "50_generated.cf", 50000);
  WriteGenerated(small + "50_generated.cf", 5000);

  constexpr int Rounds = 9;
  const std::vector<std::string> corpusPaths = Paths(corpus), generatedPaths = Paths(generated);
  std::size_t corpusLines = 0, generatedLines = 0;
  Split(corpusPaths, corpusLines);
  Split(generatedPaths, generatedLines);

  // Every measurement once per round, so a change in the machine's load
  // touches them alike; medians over the rounds.
  std::vector<long long> ours, baseline, large, tenth;
  for (int round = 0; round < Rounds; ++round) {
    ours.push_back(bench::MedianNanoseconds(1, [&] { return Load(corpus); }));
    baseline.push_back(bench::MedianNanoseconds(1, [&] { return Split(corpusPaths, corpusLines); }));
    large.push_back(bench::MedianNanoseconds(1, [&] { return Load(generated); }));
    tenth.push_back(bench::MedianNanoseconds(1, [&] { return Load(small); }));
  }
  const auto median = [](std::vector<long long>& samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
  };
  bench::Report("rule_load_corpus", median(ours), median(baseline));
  std::printf("corpus: %zu files, %zu lines, %zu rules\n", corpusPaths.size(), corpusLines, Load(corpus));

  // Per line, the large folder against the corpus (whose lines are mostly
  // comments and keywords the reader skips) and against a folder of the same
  // lines a tenth its size.
  const double perLineCorpus = static_cast<double>(median(ours)) / static_cast<double>(corpusLines);
  const double perLineLarge = static_cast<double>(median(large)) / static_cast<double>(generatedLines);
  const double perLineTenth = static_cast<double>(median(tenth)) / static_cast<double>(generatedLines / 10);
  std::printf("generated: %zu lines, %zu rules; per line %.0f ns, the corpus's %.0f ns, a tenth's %.0f ns\n",
              generatedLines, Load(generated), perLineLarge, perLineCorpus, perLineTenth);
  std::printf("rule_load_per_line_vs_corpus ratio=%.2f\n", perLineLarge / perLineCorpus);
  std::printf("rule_load_per_line_vs_tenth ratio=%.2f\n", perLineLarge / perLineTenth);
  fs::remove_all(base);
  return 0;
}
