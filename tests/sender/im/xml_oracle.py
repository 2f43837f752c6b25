#!/usr/bin/env python3
"""The XML oracle of the instant-message tests, over Python's XML parser
(the system's libexpat).

    xml_oracle.py content < lines
        Each line the hex bytes of a text; answers 1 when "<r>" + text +
        "</r>" is a well-formed document (no namespaces), else 0.
    xml_oracle.py store DIR
        Each folder under DIR holds what one test case left: "Pending.dat"
        and "expect.json", the messages the case stored, in order, as their
        fields were set (UTF-16 texts, lone surrogates as \\udXXX). The file
        must parse inside "<r>" with xml.etree into exactly these elements:
        names, attributes and texts equal to the fields less the characters
        XML forbids, cut as the store cuts them, after the parser's
        line-end and attribute-value normalisation. {"unordered": true,
        "messages": [...]} takes the elements in any order.
"""
import json
import os
import re
import sys
import xml.etree.ElementTree as ET
import xml.parsers.expat as expat

XML_NS = "{http://www.w3.org/XML/1998/namespace}"
DELAY = "{jabber:x:delay}x"
ENTITIES = {"&": "&amp;", '"': "&quot;", "'": "&apos;", "<": "&lt;", ">": "&gt;"}


def well_formed(data):
    parser = expat.ParserCreate()
    try:
        parser.Parse(b"<r>" + data + b"</r>", True)
        return True
    except expat.ExpatError:
        return False


def allowed(c):
    o = ord(c)
    return o in (9, 10, 13) or 0x20 <= o <= 0xD7FF or 0xE000 <= o <= 0xFFFD or 0x10000 <= o <= 0x10FFFF


def units(text):
    return text.encode("utf-16-le", "surrogatepass")


def first_cut(text, count=255):
    """The first count UTF-16 units, one fewer when a pair would be parted."""
    data = units(text)
    if len(data) <= 2 * count:
        return text
    cut = data[:2 * count]
    last = int.from_bytes(cut[-2:], "little")
    following = int.from_bytes(data[2 * count:2 * count + 2], "little")
    if 0xD800 <= last <= 0xDBFF and 0xDC00 <= following <= 0xDFFF:
        cut = cut[:-2]
    return cut.decode("utf-16-le", "surrogatepass")


def joined(text):
    """Pairs as one character; lone surrogates stay as they are."""
    return units(text).decode("utf-16-le", "surrogatepass")


def kept(text):
    return "".join(c for c in joined(text) if allowed(c))


def value_cut(text):
    """What an attribute keeps: whole characters and entities in 255 bytes."""
    out, size = "", 0
    for c in kept(first_cut(text)):
        piece = len(ENTITIES.get(c, c).encode("utf-8"))
        if size + piece > 255:
            break
        out, size = out + c, size + piece
    return out


def text_norm(text):
    return text.replace("\r\n", "\n").replace("\r", "\n")


def attr_norm(text):
    return re.sub(r"[\t\n]", " ", text_norm(text))


def expected_attributes(m):
    pairs = [(n, m[n]) for n in ("from", "to", "type")] + [tuple(p) for p in m["attrs"]]
    out = []
    for name, value in pairs:
        if value:
            name = first_cut(name)
            out.append((XML_NS + name[4:] if name.startswith("xml:") else name, attr_norm(value_cut(value))))
    return out


def same_tree(a, b):
    return (a.tag == b.tag and a.attrib == b.attrib and (a.text or "") == (b.text or "")
            and (a.tail or "") == (b.tail or "") and len(a) == len(b) and all(map(same_tree, a, b)))


def check_message(e, m, where):
    tag = first_cut(m["tag"]) or "message"
    assert e.tag == tag, (where, e.tag, tag)
    assert list(e.attrib.items()) == expected_attributes(m), (where, list(e.attrib.items()), expected_attributes(m))
    children = list(e)
    if m["subject"]:
        subject = children.pop(0)
        assert subject.tag == "subject" and (subject.text or "") == text_norm(kept(m["subject"])), where
        assert not subject.attrib and len(subject) == 0 and not subject.tail, where
    body = children.pop(0)
    assert body.tag == "body" and not body.attrib and len(body) == 0, where
    assert (body.text or "") == text_norm(kept(m["body"])), (where, body.text, m["body"])
    delay = children.pop()
    assert delay.tag == DELAY and not delay.tail and len(delay) == 0, where
    want = [("from", attr_norm(value_cut(m["from"])))] if m["from"] else []
    got = list(delay.attrib.items())
    assert got[:-1] == want and got[-1][0] == "stamp", (where, got)
    assert re.fullmatch(r"\d{8}T\d\d:\d\d:\d\d", got[-1][1]), (where, got)
    raw = ET.fromstring("<r>" + m["raw"] + "</r>")
    assert (body.tail or "") == (raw.text or ""), where
    assert len(children) == len(raw) and all(map(same_tree, children, raw)), where


def check_store(folder):
    cases = 0
    for name in sorted(os.listdir(folder)):
        case = os.path.join(folder, name)
        with open(os.path.join(case, "expect.json"), encoding="ascii") as f:
            messages = json.load(f)
        path = os.path.join(case, "Pending.dat")
        data = open(path, "rb").read() if os.path.exists(path) else b""
        root = ET.fromstring(b"<r>" + data + b"</r>")
        elements = list(root)
        if isinstance(messages, dict):
            # Writers in several processes: any order, each message once.
            messages = sorted(messages["messages"], key=lambda m: text_norm(kept(m["body"])))
            elements.sort(key=lambda e: e.find("body").text or "")
        assert not (root.text or "") and len(elements) == len(messages), (name, len(elements), len(messages))
        for i, (element, message) in enumerate(zip(elements, messages)):
            assert not element.tail, (name, i)
            check_message(element, message, "%s #%d" % (name, i))
        cases += 1
    print("%d cases checked" % cases)
    return 0 if cases else 1


def main(argv):
    if argv[1] == "content":
        for line in sys.stdin:
            print("1" if well_formed(bytes.fromhex(line.strip())) else "0")
        return 0
    return check_store(argv[2])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
