#include "core/config/ConfigFiles.h"

#include "core/platform/Files.h"

namespace core {
namespace {

// Configuration text files are a few kilobytes; this only bounds the memory a
// damaged or hostile file can take.
constexpr std::size_t MaxTextFileBytes = 16u << 20;

}  // namespace

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.emplace_back(text.substr(start, i - start));
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
    ++i;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

bool ReadTextFile(const std::string& fileName, std::string& text) {
  return ReadFileBytes(fileName, 0, MaxTextFileBytes, text) == FileReadResult::Read;
}

bool ReadTextLines(const std::string& fileName, std::vector<std::string>& lines) {
  lines.clear();
  std::string text;
  if (!ReadTextFile(fileName, text)) return false;
  lines = SplitLines(text);
  return true;
}

}  // namespace core
