#include "core/attachments/AttachmentNames.h"

#include <array>

#include "core/util/Text.h"

namespace core {
namespace {

bool IsRemoved(unsigned char c) {
  if (c < 32 || c == 127) return true;
  switch (c) {
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
      return true;
    default:
      return false;
  }
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The superscript digits one, two and three of the ANSI code page, which
// Windows also reads as port numbers.
bool IsPortDigit(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= '0' && c <= '9') || u == 0xB9 || u == 0xB2 || u == 0xB3;
}

}  // namespace

std::string CleanFileComponent(std::string_view declared) {
  const std::size_t last = declared.find_last_of("\\/");
  if (last != std::string_view::npos) declared.remove_prefix(last + 1);
  std::string name;
  name.reserve(declared.size());
  for (const char c : declared)
    if (!IsRemoved(static_cast<unsigned char>(c))) name.push_back(c);
  while (!name.empty() && (name.back() == '.' || name.back() == ' '))
    name.pop_back();
  return name;
}

bool IsDeviceName(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ')
    base.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> Fixed = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const std::string_view device : Fixed)
    if (SameText(base, device)) return true;
  if (base.size() == 4 && IsPortDigit(base[3])) {
    const std::string_view stem = base.substr(0, 3);
    return SameText(stem, "COM") || SameText(stem, "LPT");
  }
  return false;
}

bool NeedsGeneratedName(std::string_view cleaned) { return cleaned.empty() || IsDeviceName(cleaned); }

std::string KeptExtension(std::string_view cleaned) {
  const std::size_t dot = cleaned.rfind('.');
  if (dot == std::string_view::npos) return {};
  const std::string_view extension = cleaned.substr(dot + 1);
  if (extension.empty() || extension.size() > MaxKeptExtension) return {};
  for (const char c : extension) {
    const bool plain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    if (!plain) return {};
  }
  return "." + std::string(extension);
}

bool IsCleanFileComponent(std::string_view name) {
  for (const char c : name)
    if (IsSeparator(c)) return false;
  return !NeedsGeneratedName(name) && CleanFileComponent(name) == name;
}

}  // namespace core
