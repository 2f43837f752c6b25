#pragma once
// Checks and small converters for names that users type and for the lines of
// the server's configuration files.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// The text before the first ";" (the first address of an alias list).
std::string FirstListItem(std::string_view text);

// Letters, digits, "-", ".", "[", "]" and codes from 127 up, in non-empty
// dot-separated labels. An empty text is accepted.
bool IsValidDomainName(std::string_view text);

// Address characters only; with aliasList no "@", without it no ";", "[", "]".
bool IsValidAddressChars(std::string_view text, bool aliasList);

// Copy without the characters a file name cannot hold: " * / : < > ? |
std::string RemoveFileNameChars(std::string_view text);

// Cuts the text at the first marker that is not doubled; a doubled marker
// (marker followed by its own first character) stands for one literal copy.
// With the marker found the result is trimmed; without it the text is unchanged.
void CutAtCommentMarker(std::string& text, std::string_view marker);

// Removes "#" and "// " comments and one "/* ... */" block from a line.
std::string StripComments(std::string_view line);

// Trimmed; with a "," or blank inside, "," becomes ";" and blanks go.
std::string NormalizeListSeparators(std::string_view text);

}  // namespace core
