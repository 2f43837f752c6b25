#include "core/util/PathText.h"

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

}  // namespace core
