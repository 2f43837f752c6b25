#!/usr/bin/python3
"""A seeded corpus of MIME messages for the attachment extraction tests:
mixed and alternative multiparts nested up to five deep, encapsulated
messages, base64 wrapped at 76, 75 and 70 characters and as one line of 1 MB or
100 KB,
quoted-printable with soft breaks and "." lines, 7bit text, x-uuencode
parts, inline uuencoded blocks of 45, 59 and 90 bytes, duplicate names,
RFC 2231 names and unnamed HTML. Every message is written three ways: NNN.eml (the text, for
the oracles), NNN.tmp (dot-stuffed, closed by the end mark) and NNN.imap
(the 26-byte header, then the text).
    attach_corpus.py DIRECTORY [SEED] [COUNT]
"""
import base64
import binascii
import quopri
import random
import sys
from pathlib import Path

CRLF = b"\r\n"
INLINE_SIZES = (45, 59, 90)


def uuencode(data, name):
    """A uuencoded block: begin line, 45-byte lines, the zero line, end."""
    lines = [b"begin 644 " + name.encode()]
    for i in range(0, len(data), 45):
        lines.append(binascii.b2a_uu(data[i:i + 45]).rstrip(b"\n"))
    lines += [b"`", b"end"]
    return CRLF.join(lines)


class Corpus:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.serial = 0
        self.big_lines = 0

    def token(self):
        self.serial += 1
        return "%05d%04x" % (self.serial, self.rng.getrandbits(16))

    def text(self, lines):
        """ASCII lines, a few starting with a dot or being just one."""
        words = ["alpha", "beta", "gamma", "delta", "From here", "x" * 90, ".", "..", ".dot", "=sign", "tab\there"]
        out = []
        for _ in range(lines):
            pick = self.rng.random()
            if pick < 0.1:
                out.append(self.rng.choice([".", "..", ".starts with a dot"]))
            else:
                out.append(" ".join(self.rng.choice(words) for _ in range(self.rng.randint(1, 12))))
        return ("line %s\r\n" % self.token() + "\r\n".join(out)).encode()

    def headers(self, ctype, name=None, cte=None, inline=False):
        line = b"Content-Type: " + ctype.encode()
        if name is not None and not inline:
            line += b'; name="' + name.encode() + b'"'
        out = [line]
        if name is not None and (inline or self.rng.random() < 0.5):
            out.append(b'Content-Disposition: attachment; filename="' + name.encode() + b'"')
        if cte:
            out.append(b"Content-Transfer-Encoding: " + cte.encode())
        return CRLF.join(out) + CRLF + CRLF

    def name(self, names, extension):
        """A fresh name, or now and then one this message already used."""
        if names and self.rng.random() < 0.15:
            return self.rng.choice(names)
        name = "f%s.%s" % (self.token(), extension)
        names.append(name)
        return name

    def base64_part(self, names):
        one_line = self.big_lines < 6 and self.rng.random() < 0.06
        size = (1 << 20, 100 * 1024)[self.big_lines % 2] if one_line else self.rng.randint(1, 6000)
        data = self.rng.randbytes(size)
        encoded = base64.b64encode(data)
        if one_line:
            self.big_lines += 1
            body = encoded
        else:
            width = self.rng.choice((76, 75, 70))
            body = CRLF.join(encoded[i:i + width] for i in range(0, len(encoded), width))
        if self.rng.random() < 0.15:
            return self.extended_headers() + body
        return self.headers("application/octet-stream", self.name(names, "bin"), "base64") + body

    def extended_headers(self):
        """A base64 part named in the RFC 2231 forms: one value, or sections."""
        token = self.token()
        if self.rng.random() < 0.5:
            line = "filename*=utf-8''caf%%C3%%A9-%s.bin" % token
        else:
            line = "filename*0*=utf-8''%%C3%%A9t%%C3%%A9-;\r\n filename*1=\"%s\";\r\n filename*2=\".bin\"" % token
        return ("Content-Type: application/octet-stream\r\nContent-Disposition: attachment; %s\r\n"
                "Content-Transfer-Encoding: base64\r\n\r\n" % line).encode()

    def qp_part(self, names):
        text = self.text(self.rng.randint(1, 30)).replace(b"\r\n", b"\n")
        body = quopri.encodestring(text).replace(b"\n", CRLF)
        return self.headers("text/plain", self.name(names, "txt"), "quoted-printable") + body

    def text_part(self, names):
        return self.headers("text/plain", self.name(names, "txt"), "7bit") + self.text(self.rng.randint(1, 30))

    def xuu_part(self, names):
        name = self.name(names, "dat")
        data = self.rng.randbytes(self.rng.randint(1, 400))
        return self.headers("application/octet-stream", name, "x-uuencode") + uuencode(data, name)

    def html_part(self, names):
        body = b"<html><body><p>" + self.text(self.rng.randint(1, 5)) + b"</p></body></html>"
        if self.rng.random() < 0.3:
            return self.headers("text/html", self.name(names, "html"), "7bit") + body
        return self.headers("text/html; charset=us-ascii", None, "7bit") + body

    def inline_part(self, names):
        data = self.rng.randbytes(self.rng.choice(INLINE_SIZES))
        body = self.text(3) + CRLF + uuencode(data, "inl%s.bin" % self.token()) + CRLF + self.text(2)
        return self.headers("text/plain", None, "7bit") + body

    def plain_part(self, names):
        return self.headers("text/plain; charset=us-ascii", None, "7bit") + self.text(self.rng.randint(1, 10))

    def leaf(self, names):
        kinds = [self.base64_part, self.qp_part, self.text_part, self.xuu_part, self.html_part, self.inline_part,
                 self.plain_part]
        return self.rng.choice(kinds)(names)

    def multipart(self, names, depth):
        boundary = "=_b%s" % self.token()
        subtype = self.rng.choice(("mixed", "mixed", "alternative"))
        out = self.headers('multipart/%s; boundary="%s"' % (subtype, boundary))
        out += b"This is a multi-part message in MIME format." + CRLF
        for _ in range(self.rng.randint(1, 4)):
            out += b"--" + boundary.encode() + CRLF + self.entity(names, depth + 1) + CRLF
        return out + b"--" + boundary.encode() + b"--" + CRLF + b"epilogue" + CRLF

    def encapsulated(self, names, depth):
        inner = b"From: inner@example.org\r\nSubject: forwarded " + self.token().encode() + CRLF
        inner += b"MIME-Version: 1.0" + CRLF + self.entity(names, depth + 1, top=True)
        return self.headers("message/rfc822") + inner

    def entity(self, names, depth, top=False):
        pick = self.rng.random()
        if depth < 5 and pick < (0.6 if top else 0.25):
            return self.multipart(names, depth)
        if depth < 5 and pick < (0.7 if top else 0.35):
            return self.encapsulated(names, depth)
        return self.leaf(names)

    def message(self):
        head = ("From: sender@example.org\r\nTo: rcpt@example.net\r\nSubject: corpus %s\r\n"
                "MIME-Version: 1.0\r\n" % self.token()).encode()
        text = head + self.entity([], 0, top=True)
        return text if text.endswith(CRLF) else text + CRLF


def stuffed(text):
    """The ".tmp" form: a dot starting a line doubled, then the end mark."""
    lines = text[:-2].split(CRLF)
    return CRLF.join(b"." + line if line.startswith(b".") else line for line in lines) + b"\r\n.\r\n"


def generate(directory, seed=35, count=200):
    corpus = Corpus(seed)
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    names = []
    for index in range(count):
        text = corpus.message()
        stem = directory / ("%03d" % index)
        stem.with_suffix(".eml").write_bytes(text)
        stem.with_suffix(".tmp").write_bytes(stuffed(text))
        stem.with_suffix(".imap").write_bytes(b"0" * 16 + b"%08X" % corpus.rng.getrandbits(31) + CRLF + text)
        names.append(stem)
    return names


if __name__ == "__main__":
    generate(sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 35,
             int(sys.argv[3]) if len(sys.argv) > 3 else 200)
