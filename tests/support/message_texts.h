#pragma once
// The dump tests/support/message_texts.py writes for its files: one line per
// text, the index (main table) or the key (list-server table), a tab and the
// text in hex.
#include <fstream>
#include <sstream>
#include <string>

#include "core/texts/MessageTexts.h"

namespace testing_support {

inline std::string TextsDump() {
  static constexpr char Digits[] = "0123456789abcdef";
  const auto hex = [](const std::string& text) {
    std::string out;
    for (const char c : text)
      out += {Digits[static_cast<unsigned char>(c) >> 4], Digits[static_cast<unsigned char>(c) & 15]};
    return out;
  };
  std::string dump;
  for (int i = 0; i < core::MainTextCount; ++i)
    dump += std::to_string(i) + "\t" + hex(core::MessageText(i)) + "\n";
  for (int i = 0; i < core::ListServerTextCount; ++i)
    dump += std::string(core::ListServerTextKey(i)) + "\t" + hex(core::ListServerText(i)) + "\n";
  return dump;
}

inline std::string ReadFileText(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

}  // namespace testing_support
