#!/usr/bin/env python3
"""Writes sender/im/XmlNameChars.h: the characters from U+0080 up that may
begin an XML name and that may continue one, as the XML parser of the
instant-messaging readers and of the tests (libexpat, through Python's
pyexpat) classifies them, as ranges of code points. Characters above
U+FFFF are never name characters there.
    xml_name_chars.py [OUTPUT]
"""
import sys
import xml.parsers.expat as expat


def parses(text):
    parser = expat.ParserCreate()
    try:
        parser.Parse(("<r>" + text + "</r>").encode("utf-8"), True)
        return True
    except expat.ExpatError:
        return False


def ranges(accepts):
    found, start = [], None
    for code in range(0x80, 0x10000):
        ok = not 0xD800 <= code <= 0xDFFF and accepts(chr(code))
        if ok and start is None:
            start = code
        elif not ok and start is not None:
            found.append((start, code - 1))
            start = None
    if start is not None:
        found.append((start, 0xFFFF))
    return found


def table(name, pairs):
    lines = ["inline constexpr NameRange %s[] = {" % name]
    row = []
    for first, last in pairs:
        row.append("{0x%04X, 0x%04X}," % (first, last))
        if len(row) == 6:
            lines.append("    " + " ".join(row))
            row = []
    if row:
        lines.append("    " + " ".join(row))
    lines.append("};")
    return "\n".join(lines)


def main(out):
    start = ranges(lambda c: parses("<" + c + "/>"))
    name = ranges(lambda c: parses("<a" + c + "/>"))
    text = """#pragma once
// Written by scripts/xml_name_chars.py: the characters from U+0080 up that
// may begin an XML name (NameStartRanges) and that may continue one
// (NameRanges), as the XML parser of the store's readers classifies them.
// Characters above U+FFFF are never name characters there.
#include <cstdint>

namespace sender::xmlnames {

struct NameRange {
  char16_t first, last;
};

%s

%s

}  // namespace sender::xmlnames
""" % (table("NameStartRanges", start), table("NameRanges", name))
    with open(out, "w") as f:
        f.write(text)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "sender/im/XmlNameChars.h")
