// The rule reader's file source over a host folder, for native tools and
// benchmarks: paths use "\" as the reader does and are mapped to "/"; a
// listing comes in the order an NTFS folder gives (upper-cased names); lines
// end at LF, CRLF or CR, as the Windows reader ends them.
#pragma once

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/antispam/RuleFiles.h"

namespace testrules {

inline std::string HostPath(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

inline std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return text;
}

inline bool ReadWhole(const std::string& path, std::string& data) {
  FILE* file = std::fopen(HostPath(path).c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    data.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed;
}

// Calls each(line) for every line of data; the last line needs no end.
template <class Each>
void SplitLines(std::string_view data, Each&& each) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (data[i] != '\r' && data[i] != '\n') continue;
    each(data.substr(start, i - start));
    if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < data.size()) each(data.substr(start));
}

class PosixRuleFiles : public core::RuleSource {
 public:
  std::vector<std::string> List(const std::string& folder, const std::string& mask) override {
    std::vector<std::string> names;
    DIR* dir = opendir(HostPath(folder).c_str());
    if (dir == nullptr) return names;
    while (const dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != ".." && core::WildcardMatch(mask, name)) names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return Upper(a) < Upper(b); });
    return names;
  }
  core::RuleReadResult ReadLines(const std::string& path, const std::function<void(std::string_view)>& line) override {
    struct stat info {};
    if (stat(HostPath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return core::RuleReadResult::NotOpened;
    std::string data;
    if (!ReadWhole(path, data)) return core::RuleReadResult::IoError;
    SplitLines(data, line);
    return core::RuleReadResult::Done;
  }
  std::optional<core::RuleFileStamp> Stamp(const std::string& path) override {
    struct stat info {};
    if (stat(HostPath(path).c_str(), &info) != 0) return std::nullopt;
    return core::RuleFileStamp{static_cast<std::uint64_t>(info.st_mtim.tv_sec) * 10000000u +
                                   static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 100u,
                               static_cast<std::uint64_t>(info.st_size)};
  }
};

}  // namespace testrules
