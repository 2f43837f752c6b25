#include "core/util/PathText.h"

#include <cstdint>

namespace core {

std::string NormalizePath(std::string_view path, bool keepTrailingBackslash, bool slashesToBackslashes) {
  std::string result(path);
  if (result.empty()) return result;
  if (slashesToBackslashes) {
    for (char& c : result) {
      if (c == '/') c = '\\';
    }
  }
  if (result.back() != '\\') result += '\\';
  if (!keepTrailingBackslash) result.pop_back();
  return result;
}

bool IsSafeFolderName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  if (name.front() == '.' || name.back() == '.' || name.front() == ' ' || name.back() == ' ') return false;
  if (name.find("..") != std::string_view::npos) return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) return false;
  }
  // The device names count with any extension: "con.example" is the device.
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ')
    base.pop_back();
  for (char& c : base) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  static constexpr std::string_view devices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const std::string_view device : devices) {
    if (base == device) return false;
  }
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
      base[3] <= '9')
    return false;
  return true;
}

std::uint64_t InstallationNameHash(std::string_view text) {
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (const char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  return hash;
}

std::string InstallationObjectName(std::string_view prefix, std::string_view foldedFolder) {
  const std::uint64_t hash = InstallationNameHash(foldedFolder);
  static constexpr char digits[] = "0123456789abcdef";
  std::string name(prefix);
  for (int shift = 60; shift >= 0; shift -= 4)
    name += digits[(hash >> shift) & 0xF];
  return name;
}

bool MailboxPathStaysInside(std::string_view path) {
  if (!path.empty() && (path.front() == '\\' || path.front() == '/')) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    // Windows drops trailing dots and blanks: "..", ". ." and "..." all climb or stay put.
    if (!part.empty() && part.find_first_not_of(". ") == std::string_view::npos) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace core
