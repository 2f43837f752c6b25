#pragma once
// Text helpers for configuration lines and ";" lists. Positions are 1-based
// (0 = not found), list items are counted from 0. Case folding is ASCII only.

#include <cstddef>
#include <string>
#include <string_view>

namespace core {

// The longest text a short-text field or result holds.
inline constexpr std::size_t ShortTextLength = 255;

// Removes every leading and trailing character with a code of 32 or below.
std::string Trim(std::string_view text);
// The same as a view into text, without a copy.
std::string_view TrimView(std::string_view text);

std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// ASCII lower case of from into to (from.size() bytes): each byte from 'A'
// to 'Z' gains 0x20, every other byte (those from 0x80 too) stays.
void LowerCaseInto(std::string_view from, char* to);
bool SameText(std::string_view a, std::string_view b);

// True when some character's code is 128 or above (texts that need escaping
// or an encoded form).
bool ContainsHighChars(std::string_view text);

// The first maxLength characters.
std::string CutTo(std::string_view text, std::size_t maxLength);

// Item number index of a separator-delimited text (trimmed unless raw). A
// missing trailing separator does not lose the last item; an index past the
// last item gives an empty text. withRest appends the separator and the rest
// of the list: ("a;b;c", 1, ';', false, true) gives "b;c".
std::string GetDelimitedItem(std::string_view text, int index, char separator, bool raw = false, bool withRest = false);

// As GetDelimitedItem, after every run of blanks has been collapsed to one.
std::string GetDelimitedWord(std::string_view text, int index, char separator, bool raw = false, bool withRest = false);

// Replaces every occurrence left to right without rescanning inserted text.
// An empty oldText leaves the text unchanged.
void ReplaceText(std::string& text, std::string_view oldText, std::string_view newText, bool caseSensitive);

// Position of the last c, 0 when none.
int LastCharPos(char c, std::string_view text);

// First position p, from <= p <= to, where sub stands in text (case-sensitive).
// from < 1 counts as 1; to = 0 or past the end counts as the end.
int PosInRange(std::string_view sub, std::string_view text, int from, int to);

// "Key = Value" -> "Key=Value"; text without the separator is unchanged.
std::string TrimAroundSeparator(std::string_view text, char separator);

// Characters from position from through position to, clipped to the text.
std::string CopyRange(std::string_view text, int from, int to);

}  // namespace core
