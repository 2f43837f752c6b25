#pragma once
// Header values: RFC 2047 encoded words, parameters and e-mail addresses.
// The results flow into generated messages, SMTP commands and file names,
// so none of them carries a CR, LF or NUL.

#include <string>
#include <string_view>

namespace core {

// Decodes the encoded words ("=?charset?Q?...?=" and "=?charset?B?...?=")
// of a header value, right-trimmed first. Q words turn "_" into a blank
// unless keepUnderscores; a word with another encoding letter gives its text
// undecoded; the charset is dropped without conversion. White space between
// two adjacent encoded words is dropped; an "=?" that starts no complete
// word is plain text. CR, LF and NUL in the result become blanks.
std::string DecodeHeaderText(std::string_view text, bool keepUnderscores);

// The value of the parameter name ("name" or "name=", case ignored) in a
// header line: between the first two double quotes when it starts with one
// (blank runs collapsed, trimmed), else up to the next ";", trimmed. Empty
// when the parameter is missing. The name must start a word, so "name" does
// not match inside "filename".
std::string GetHeaderParameter(std::string_view name, std::string_view line);

// The value of a parameter in its RFC 2231 forms ("name*=utf-8''%C3%A9.txt",
// or sections "name*0=", "name*1*=", ... joined in the order of their
// numbers): percent escapes of the "*" sections decoded, a UTF-8 value
// converted to the system's 8-bit code page, other character sets kept as
// their bytes. CR, LF and NUL become blanks. Empty when the line holds no
// such form.
std::string GetExtendedParameter(std::string_view name, std::string_view line);

// The address of a "Name <address>" text in angle brackets: the text after
// the last "<" up to the next ">", trimmed; a text with neither bracket is
// trimmed and bracketed; one with ">" but no "<" stays as it is. Without
// brackets a leading "<" and a trailing ">" are removed. CR, LF and NUL are
// dropped; comments in parentheses stay.
std::string ExtractEmailAddress(std::string_view text, bool withoutBrackets);

// The domain of an address text: the bare address after its first "@";
// empty when it holds no "@".
std::string ExtractDomainPart(std::string_view text);

// The alias of an address text: the bare address before its first "@"; the
// whole bare address when it holds no "@".
std::string ExtractAliasPart(std::string_view text);

}  // namespace core
