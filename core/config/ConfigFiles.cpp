#include "core/config/ConfigFiles.h"

#include <windows.h>

#include "core/platform/FileUnit.h"

namespace core {
namespace {

// Configuration text files are a few kilobytes; this only bounds the memory a
// damaged or hostile file can take.
constexpr std::size_t MaxTextFileBytes = 16u << 20;

}  // namespace

FileReadResult ReadFileBytes(const std::string& fileName, std::uint64_t offset, std::size_t maxBytes,
                             std::string& out) {
  out.clear();
  if (fileName.empty()) return FileReadResult::Missing;
  // Share everything: the services keep these files open, and a writer that
  // replaces the file by a rename must not fail because we are reading.
  UniqueHandle file(::CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileReadResult::Missing;
    return FileReadResult::Unreadable;
  }
  try {
    if (offset > 0) {
      LARGE_INTEGER distance{};
      distance.QuadPart = static_cast<LONGLONG>(offset);
      if (!::SetFilePointerEx(file.get(), distance, nullptr, FILE_BEGIN)) return FileReadResult::Unreadable;
    }
    char buffer[65536];
    while (out.size() < maxBytes) {
      const std::size_t want = maxBytes - out.size() < sizeof buffer ? maxBytes - out.size() : sizeof buffer;
      DWORD got = 0;
      if (!::ReadFile(file.get(), buffer, static_cast<DWORD>(want), &got, nullptr)) {
        out.clear();
        return FileReadResult::Unreadable;
      }
      if (got == 0) break;
      out.append(buffer, got);
    }
  } catch (...) {
    out.clear();
    return FileReadResult::Unreadable;
  }
  return FileReadResult::Read;
}

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

bool ReadTextLines(const std::string& fileName, std::vector<std::string>& lines) {
  lines.clear();
  std::string text;
  if (ReadFileBytes(fileName, 0, MaxTextFileBytes, text) != FileReadResult::Read) return false;
  lines = SplitLines(text);
  return true;
}

}  // namespace core
