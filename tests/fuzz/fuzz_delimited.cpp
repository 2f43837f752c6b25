// List item extraction against a plain split, and its size invariants.
// Byte 0: index, byte 1: separator, byte 2: raw / withRest flags, rest: text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/util/Text.h"

namespace {

// Splits the text with one separator appended, as the list walk treats it.
std::vector<std::string_view> Split(std::string_view list, char separator) {
  std::vector<std::string_view> items;
  std::size_t start = 0;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i] == separator) {
      items.push_back(list.substr(start, i - start));
      start = i + 1;
    }
  }
  items.push_back(list.substr(start));
  return items;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int index = static_cast<std::int8_t>(data[0]);
  const char separator = static_cast<char>(data[1]);
  const bool raw = (data[2] & 1) != 0;
  const bool withRest = (data[2] & 2) != 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);

  const std::string item = core::GetDelimitedItem(text, index, separator, raw, withRest);
  if (item.size() > text.size()) std::abort();
  if (!withRest && item.find(separator) != std::string::npos) std::abort();

  if (!withRest) {
    const std::string list = raw ? std::string(text) : core::Trim(text);
    const std::vector<std::string_view> items = Split(list, separator);
    std::string expected;
    if (index >= 0 && static_cast<std::size_t>(index) < items.size())
      expected = raw ? std::string(items[static_cast<std::size_t>(index)])
                     : core::Trim(items[static_cast<std::size_t>(index)]);
    if (item != expected) std::abort();
  }

  const std::string word = core::GetDelimitedWord(text, index, separator, raw, withRest);
  if (word.size() > text.size()) std::abort();
  const std::string trimmed = core::TrimAroundSeparator(text, separator);
  if (trimmed.size() > text.size()) std::abort();
  return 0;
}
