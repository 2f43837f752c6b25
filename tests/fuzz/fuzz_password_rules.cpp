// The password policy and comparison with hostile texts and settings.
// Bytes 0-3: alias check, length, digits, others; then password, mailbox
// and aliases separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/auth/PasswordRules.h"
#include "tests/support/records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::vector<std::uint8_t> settings(records::SettingsSize, 0);
  using namespace records::settings;
  settings[NotAnAlias] = data[0] & 1;
  settings[MinLength] = data[1];
  settings[MinDigits] = data[2];
  settings[MinOthers] = data[3];
  const std::string_view rest(reinterpret_cast<const char*>(data + 4), size - 4);
  const std::size_t a = rest.find('\0');
  const std::size_t b = a == std::string_view::npos ? a : rest.find('\0', a + 1);
  const std::string_view password = rest.substr(0, a);
  const std::string_view mailbox = a == std::string_view::npos ? std::string_view() : rest.substr(a + 1, b - a - 1);
  const std::string_view aliases = b == std::string_view::npos ? std::string_view() : rest.substr(b + 1);
  const bool passes = core::CheckPasswordRules(settings.data(), password, mailbox, aliases);
  // With every rule off, any password passes.
  if (data[0] == 0 && data[1] == 0 && !passes) std::abort();
  std::uint8_t field[128] = {};
  field[0] = static_cast<std::uint8_t>(password.size() < 128 ? password.size() : 0);
  for (std::size_t i = 0; i < password.size() && i < 127; ++i)
    field[1 + i] = static_cast<std::uint8_t>(password[i]);
  if (password.size() < 128 && !core::PasswordMatches(password, field)) std::abort();
  core::NormalizeLoginName(password);
  return 0;
}
