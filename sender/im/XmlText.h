#pragma once
// Text as the instant-message store takes it: UTF-16 from the automation
// strings, written as UTF-8 with XML's five special characters escaped and
// the characters XML 1.0 forbids dropped. Pure: no operating-system call.
#include <cstddef>
#include <string>
#include <string_view>

namespace sender {

// The longest name, attribute value (in UTF-8 bytes once escaped) and
// first cut (in UTF-16 units) of the store's elements.
inline constexpr std::size_t XmlShortText = 255;

// The first count UTF-16 units of text, one fewer when the cut would part a
// surrogate pair.
std::u16string_view CutUnits(std::u16string_view text, std::size_t count = XmlShortText);

// Whether XML 1.0 allows the character: tab, LF, CR, U+0020-U+D7FF,
// U+E000-U+FFFD, U+10000-U+10FFFF.
constexpr bool IsXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0x10FFFF);
}

// UTF-8 of the text, "&" "\"" "'" "<" ">" written as "&amp;" "&quot;"
// "&apos;" "&lt;" "&gt;", in one pass; characters XML forbids (controls but
// tab, CR and LF, unpaired surrogates, U+FFFE, U+FFFF) are dropped. With a
// limit the result holds whole characters and whole entities only, as many
// as fit in limit bytes.
std::string EncodeXMLText(std::u16string_view text, std::size_t limit = std::string::npos);

// UTF-8 of the text as it stands; false, out empty, when it holds an
// unpaired surrogate.
bool Utf16ToUtf8(std::u16string_view text, std::string& out);

}  // namespace sender
