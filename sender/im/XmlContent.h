#pragma once
// Checks of what the instant-message store writes without escaping: element
// and attribute names, and the raw text a client adds to an element. Pure.
#include <string_view>

namespace sender {

// A name as the store writes it: an ASCII letter or "_", then letters,
// digits, "_", "-" and "."; at most one ":", inside the name and followed
// by a letter or "_" (a prefix and a local name, as in "xml:lang").
bool IsXmlAsciiName(std::u16string_view name);

// Whether the UTF-8 text is well-formed XML content inside one element
// ("<r>" + text + "</r>" a well-formed document): valid UTF-8 of characters
// XML allows; balanced elements with names, distinct attributes and quoted
// values; references to the five predefined entities or to allowed
// characters; comments, CDATA sections and processing instructions (not
// "xml"); no "]]>" in character data, no declaration. Names follow XML 1.0
// without namespaces, their characters beyond ASCII as the store's readers
// take them (XmlNameChars.h). Linear, with the open elements kept on a list
// rather than the call stack.
bool IsWellFormedContent(std::string_view text);

}  // namespace sender
