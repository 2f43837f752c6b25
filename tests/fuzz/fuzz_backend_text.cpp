// The texts the database back end takes from callers and stored records:
// alias lists, logins, domain names, "path.cfg" lines and short strings of a
// record, with the invariants the stored keys rely on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "backend/RecordText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const std::string& key : backend::AliasKeys(text)) {
    // A key is never empty, never holds the separator and never an ASCII capital.
    if (key.empty() || key.find(';') != std::string::npos) std::abort();
    for (const char c : key) {
      if (c >= 'A' && c <= 'Z') std::abort();
    }
    if (!backend::ShareAlias(text, key)) std::abort();
  }
  if (backend::DomainKey(text).size() > backend::DomainNameLength) std::abort();
  const backend::SplitAddress parts = backend::SplitAtSign(text);
  if (parts.alias.find('@') != std::string::npos) std::abort();
  backend::ConfigFolderOf("C:\\srv\\", backend::SplitLines(text));
  // The text as a record: short strings never read past their field.
  std::vector<std::uint8_t> record(2848, 0);
  for (std::size_t i = 0; i < size && i < record.size(); ++i)
    record[i] = data[i];
  if (backend::AccountAliases(record.data()).size() > 255 || backend::MailboxKey(record.data()).size() > 127 ||
      backend::AccountPassword(record.data()).size() > 127) {
    std::abort();
  }
  if (!backend::SamePassword(text.substr(0, 255), text.substr(0, 255))) std::abort();
  return 0;
}
