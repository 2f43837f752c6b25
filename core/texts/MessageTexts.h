#pragma once
// The server's notification, delivery-report and list-server texts with
// their built-in defaults, and the reader of "strings.dat" that replaces
// texts by key. Portable: the file itself is read by StringsFile.h.
//
// Texts are held in one table that is never changed in place: a load builds
// a new table from the current one and swaps it in, and every reader gets a
// copy, so loads and reads may run on any threads at once.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace core {

inline constexpr int MainTextCount = 76;
inline constexpr int ListServerTextCount = 23;

// One replacement a "strings.dat" line asks for: the key as written and the
// decoded text.
struct StringsEntry {
  std::string key;
  std::string text;
};

// Decodes a quoted literal: runs between single quotes are taken as they
// stand, "#" and decimal digits outside quotes give the byte of that code
// modulo 256 (nothing when every digit is 0), everything else outside quotes
// is ignored and an unclosed run adds nothing.
std::string ParseQuotedLiteral(std::string_view value);

// One line: trimmed, key before the first "=", value up to the next "=",
// each trimmed with runs of blanks collapsed. False when the key or the raw
// value is empty.
bool ParseStringsLine(std::string_view line, StringsEntry& entry);

// Every entry of a whole file's bytes, in file order; CR, LF and CR LF end
// a line and every other byte is text.
std::vector<StringsEntry> ParseStringsText(std::string_view bytes);

// Replaces the text of each entry whose key names one (ASCII case folding);
// unknown keys are ignored, a later entry wins. One call is one load: the
// new table is swapped in whole.
void ApplyStringsEntries(const std::vector<StringsEntry>& entries);
// The same for a file's bytes, decoding only the values of known keys.
void ApplyStringsText(std::string_view bytes);

// Copies of the current texts; an index out of range or an unknown key gives
// an empty text.
std::string MessageText(int index);
std::string ListServerText(int index);
std::string ListServerText(std::string_view key);
// The key of a text: empty for texts 0 to 4, 16 and 17 (never replaced).
std::string_view MessageTextKey(int index);
std::string_view ListServerTextKey(int index);

// Puts back every default, as the library's load does.
void ResetMessageTexts();

}  // namespace core
