#!/usr/bin/python3
"""Prints the expected values that the MIME tests hold as literal tables,
computed with Debian's Python modules (binascii, quopri, email). Run it
after changing an input row and paste the rows it prints."""
import binascii
import datetime
import quopri
from email.header import decode_header
from email.utils import format_datetime


def c(data):
    """A C++ string literal of the bytes."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    named = {13: "\\r", 10: "\\n", 9: "\\t", 34: '\\"', 92: "\\\\"}
    out = ""
    for i, b in enumerate(data):
        if b in named:
            out += named[b]
        elif 32 <= b < 127:
            out += chr(b)
        else:
            out += "\\%03o" % b
            if i + 1 < len(data) and chr(data[i + 1]) in "01234567":
                out += '""'
    return '"' + out + '"sv'


print("// base64 lines: binascii.a2b_base64")
for line in [b"TWFu", b"TW Fu", b"!@#TW\tFu", b"TWE=", b"TQ==TWFu", b"SGVsbG8sIHdvcmxkIQ==", b"/+/+"]:
    print("{%s, %s}," % (c(line), c(binascii.a2b_base64(line))))

print("// quoted-printable lines: binascii.a2b_qp, CRLF unless soft break")
for line in [b"caf=E9 cr=E8me", b"a=3Db", b"=3D41", b"=3=41", b"soft=", b"lower =e9t=e9", b"trailing =", b"=", b"x=4", b"x=zz"]:
    soft = line.endswith(b"=")
    decoded = binascii.a2b_qp(line[:-1] if soft else line)
    print("{%s, %s}," % (c(line), c(decoded + (b"" if soft else b"\r\n"))))
print("// quopri.decodestring of whole texts")
for text in [b"A=3D=3D=3DB", b"tab=09end", b"=0D=0A", b"=41=4", b"=4"]:
    print("{%s, %s}," % (c(text), c(quopri.decodestring(text))))

print("// uuencode lines: binascii.b2a_uu")
for data, tick in [(b"", False), (b"a", False), (b"ab", True), (b"abc", False), (b"\0\0\0\xff", False),
                   (bytes(range(45)), True), (b"Cat", True)]:
    line = binascii.b2a_uu(data, backtick=tick).rstrip(b"\n")
    print("{%s, %s}," % (c(line), c(data)))

print("// Latin-1 to UTF-8")
text = bytes([0x41, 0x7F, 0x80, 0xA0, 0xC4, 0xE9, 0xFF])
print("{%s, %s}," % (c(text), c(text.decode("latin-1").encode("utf-8"))))

print("// encoded words: email.header.decode_header, parts joined without conversion")
for header in [
        "(=?ISO-8859-1?Q?a?=)",
        "(=?ISO-8859-1?Q?a?= b)",
        "(=?ISO-8859-1?Q?a?= =?ISO-8859-1?Q?b?=)",
        "(=?ISO-8859-1?Q?a?=  =?ISO-8859-1?Q?b?=)",
        "(=?ISO-8859-1?Q?a?=\r\n    =?ISO-8859-1?Q?b?=)",
        "(=?ISO-8859-1?Q?a_b?=)",
        "(=?ISO-8859-1?Q?a?= =?ISO-8859-2?Q?_b?=)",
        "=?US-ASCII?Q?Keith_Moore?= <moore@cs.utk.edu>",
        "=?ISO-8859-1?Q?Keld_J=F8rn_Simonsen?= <keld@dkuug.dk>",
        "=?ISO-8859-1?Q?Andr=E9?= Pirard <PIRARD@vm1.ulg.ac.be>",
        "=?ISO-8859-1?B?SWYgeW91IGNhbiByZWFkIHRoaXMgeW8=?=\r\n    =?ISO-8859-2?B?dSB1bmRlcnN0YW5kIHRoZSBleGFtcGxlLg==?=",
        "=?utf-8?b?w6TDtsO8?= plain",
        "Re: =?utf-8?q?caf=C3=A9?= at noon",
]:
    parts = decode_header(header)
    joined = b"".join(p if isinstance(p, bytes) else p.encode("latin-1") for p, _ in parts)
    print("{%s, %s}," % (c(header), c(joined)))

print("// dates: email.utils.format_datetime")
for args, minutes in [((2003, 1, 5, 9, 4, 7), 60), ((2000, 2, 29, 23, 59, 59), -300), ((1999, 12, 31, 0, 0, 0), 330),
                      ((2024, 7, 1, 12, 30, 5), 120), ((2100, 3, 1, 1, 2, 3), -570), ((1970, 1, 1, 0, 0, 0), 0),
                      ((1600, 3, 1, 0, 0, 0), 0), ((1899, 12, 30, 0, 0, 0), 0)]:
    # A zero bias is written "-0000", as for a naive time.
    zone = datetime.timezone(datetime.timedelta(minutes=minutes)) if minutes else None
    text = format_datetime(datetime.datetime(*args, tzinfo=zone))
    print("{{%s}, %d, %s}," % (", ".join(str(a) for a in args), -minutes, c(text)))

print("// part file names: email get_filename() (policy.default), as Latin-1 bytes")
from email import message_from_bytes, policy
for block in [
        "Content-Disposition: attachment; filename*=utf-8''%C3%A9t%C3%A9.txt\r\n",
        "Content-Disposition: attachment; filename*=UTF-8'en'a%20b%E4%B8%ADc.txt\r\n",
        "Content-Type: text/plain; name*=iso-8859-1''caf%E9.txt\r\n",
        "Content-Disposition: attachment;\r\n filename*1=\"second.txt\";\r\n filename*0=\"first-\"\r\n",
        "Content-Type: application/pdf;\r\n name*0*=utf-8''%C3%A9;\r\n name*1=\"t\"; name*2*=%C3%A9.pdf\r\n",
        "Content-Disposition: attachment; filename=\"plain.txt\"; filename*=utf-8''other.txt\r\n",
        "Content-Disposition: attachment; filename=\"a very long\r\n name.txt\"\r\n",
        "Content-Disposition: attachment; filename*=''no%20charset.txt\r\n",
]:
    name = message_from_bytes((block + "\r\n").encode(), policy=policy.default).get_filename()
    print("{%s, %s}," % (c(block), c(name.encode("latin-1", "replace"))))
