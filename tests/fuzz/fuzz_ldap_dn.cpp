// DN escaping parsed back, the UTF-8 check, and the entry of hostile alias and name texts.
// Input: value, NUL, alias list, NUL, name text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "core/ldap/DirectoryEntry.h"
#include "core/mime/TransferCodecs.h"

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// An RFC 4514 attribute value read back; aborts on a character the grammar
// wants escaped but finds bare (it would end the value or the RDN).
std::string ParseBack(std::string_view text) {
  std::string value;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      if (i + 1 >= text.size()) std::abort();
      const char next = text[++i];
      if (Hex(next) >= 0 && i + 1 < text.size() && Hex(text[i + 1]) >= 0) {
        value.push_back(static_cast<char>(Hex(next) * 16 + Hex(text[++i])));
      } else {
        if (std::strchr(",+\"\\<>;= #", next) == nullptr) std::abort();
        value.push_back(next);
      }
      continue;
    }
    if (c == '\0' || std::strchr(",+\"\\<>;", c) != nullptr) std::abort();
    if ((i == 0 && (c == '#' || c == ' ')) || (i + 1 == text.size() && c == ' ')) std::abort();
    value.push_back(c);
  }
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t a = input.find('\0');
  const std::string_view value = input.substr(0, a);
  if (ParseBack(core::EscapeDnValue(value)) != value) std::abort();
  // Any 8-bit text converted is well-formed; the check itself reads any input.
  if (!core::IsValidUtf8(core::Latin1ToUtf8(value))) std::abort();
  core::IsValidUtf8(input);
  if (a == std::string_view::npos) return 0;
  const std::string_view rest = input.substr(a + 1);
  const std::size_t b = rest.find('\0');
  const std::string_view aliases = rest.substr(0, b);
  const std::string_view name = b == std::string_view::npos ? std::string_view() : rest.substr(b + 1);
  const std::string rdn = core::EntryNameValue(aliases, "example.test");
  const std::string dn = core::BuildUserDn(rdn, "example.test", "ou=%s,dc=t");
  if (dn.size() < rdn.size()) std::abort();
  for (const bool modify : {false, true}) {
    core::LdapModifications mods(core::BuildLdapUserEntry(aliases, name, "example.test", modify), true);
    std::size_t n = 0;
    for (core::LdapModRecord** r = mods.data(); *r != nullptr; ++r, ++n)
      for (char** v = (*r)->values; *v != nullptr; ++v)
        if (std::strlen(*v) > 4 * size + 64) std::abort();
    if (n != mods.size()) std::abort();
  }
  return 0;
}
