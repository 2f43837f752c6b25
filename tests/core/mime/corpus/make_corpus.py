#!/usr/bin/python3
"""Writes the multipart test messages with Python's email package and, next
to each, the text a reader of its text parts must get: NAME.eml and
NAME.expected (text/plain parts), NAME.html.expected (text/html parts).
The expected texts come from the email package's own decoding, with CRLF
line ends. Inside a multipart, the line break in front of a boundary
belongs to the delimiter, but a line reader sees one more empty body line:
a CRLF more for a plain or quoted-printable part, nothing for base64."""
import os
from email.message import EmailMessage
from email.policy import SMTP

here = os.path.dirname(os.path.abspath(__file__))


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n")


def save(name, message, plain, html=None, stuff=False, tail=b""):
    data = message.as_bytes(policy=SMTP)
    if stuff:  # as SMTP stores it: a leading "." doubled
        data = b"\r\n".join(b"." + line if line.startswith(b".") else line for line in data.split(b"\r\n"))
    with open(os.path.join(here, name + ".eml"), "wb") as f:
        f.write(data + tail)
    with open(os.path.join(here, name + ".expected"), "wb") as f:
        f.write(plain)
    if html is not None:
        with open(os.path.join(here, name + ".html.expected"), "wb") as f:
            f.write(html)


def text_of(part, in_multipart=True):
    """The decoded text of a part as a line reader returns it."""
    data = part.get_payload(decode=True)
    if part["Content-Transfer-Encoding"] == "base64":
        return data
    return crlf(data.decode("latin-1")).encode("latin-1") + (b"\r\n" if in_multipart else b"")


def header(message, subject):
    message["From"] = "Anna Berg <anna@example.org>"
    message["To"] = "team@example.org"
    message["Subject"] = subject


# Alternative inside mixed, with two named attachments.
plain = ("Hello team,\n\nthe caf\u00e9 figures are in; see the attached report. This line is long enough "
         "to be broken by the quoted-printable encoder into soft line breaks = and an equals sign.\n\nAnna\n")
html = "<html><body><p>Hello team,</p><p>the caf\u00e9 figures are in.</p></body></html>\r\n"
m = EmailMessage()
header(m, "=?utf-8?q?Quarterly_caf=C3=A9_report?=")
m.set_content(plain, cte="quoted-printable", charset="utf-8")
m.add_alternative(html, subtype="html", cte="base64", charset="utf-8")
m.add_attachment(bytes(range(256)) * 4, maintype="application", subtype="pdf", filename="report.pdf")
m.add_attachment("notes that are an attachment\n", filename="notes.txt")
m.set_boundary("mixed-boundary-1")
m.get_payload()[0].set_boundary("alt-boundary-2")
alternative = m.get_payload()[0].get_payload()
save("mixed_alternative", m, text_of(alternative[0]), text_of(alternative[1]))

# A forwarded message (message/rfc822) after an introduction.
inner = EmailMessage()
header(inner, "Original")
inner.set_content("The original text,\nencoded in base64.\n", cte="base64")
inner.add_alternative("<p>original</p>\n", subtype="html", cte="quoted-printable")
inner.set_boundary("inner-boundary-3")
m = EmailMessage()
header(m, "Fwd: Original")
m.set_content("See the message below.\n")
m.add_attachment(inner)
m.set_boundary("outer-boundary-4")
intro = m.get_payload()[0]
enclosed = inner.get_payload()
save("forwarded", m, text_of(intro) + text_of(enclosed[0]), text_of(enclosed[1]))

# A single part whose only text is base64.
m = EmailMessage()
header(m, "Base64 only")
m.set_content("Gr\u00fc\u00dfe aus Berlin,\r\nzweite Zeile.\r\n", cte="base64", charset="utf-8")
save("single_base64", m, text_of(m, False))

# Dot-stuffed lines, and a "." line that ends the message before trailing junk.
body = "first line\n.hidden dot\n..two dots\nlast line\n"
m = EmailMessage()
header(m, "Dots")
m.set_content(body, cte="7bit")
save("dot_stuffed", m, crlf(body).encode(), stuff=True, tail=b".\r\nafter the end\r\n")

# Base64 wrapped at widths that are not all multiples of 4, a 2,000-character
# base64 line, a 300-character quoted-printable line, and attachments named
# only in RFC 2231 forms (never text). Built by hand, as no encoder writes
# such lines; the expected text is the email package's decoding of the parts
# it does not see as files.
import base64
import random

random.seed(26)
parts = []
for width in (60, 70, 72, 74, 76):
    data = bytes(random.randrange(256) for _ in range(700 + width))
    text = base64.b64encode(data).decode()
    lines = "\r\n".join(text[i:i + width] for i in range(0, len(text), width))
    parts.append("Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n" + lines + "\r\n")
parts.append("Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
             base64.b64encode(bytes(random.randrange(256) for _ in range(1500))).decode() + "\r\n")
qp = "".join(random.choice(["caf=C3=A9 ", "na=EFve ", "plain words ", "a=3Db "]) for _ in range(40))[:300]
qp = qp[:qp.rfind(" ")] + "!"
parts.append("Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n" + qp + "\r\n")
parts.append("Content-Type: text/plain\r\nContent-Disposition: attachment;\r\n filename*=utf-8''%C3%A9t%C3%A9.txt\r\n\r\n"
             "secret one\r\n")
parts.append("Content-Type: text/plain;\r\n name*0*=iso-8859-1''%E9t%E9;\r\n name*1=\" long\";\r\n name*2=\".txt\"\r\n\r\n"
             "secret two\r\n")
parts.append("Content-Type: text/plain\r\nContent-Disposition: attachment; filename*0*=utf-8''%C3%A9;\r\n"
             " filename*1=\"te.txt\"\r\n\r\nsecret three\r\n")
raw = ("From: Anna Berg <anna@example.org>\r\nSubject: Widths\r\nMIME-Version: 1.0\r\n"
       "Content-Type: multipart/mixed; boundary=\"w\"\r\n\r\n" +
       "".join("--w\r\n" + p for p in parts) + "--w--\r\n").encode("latin-1")
from email import message_from_bytes, policy

expected = b""
for part in message_from_bytes(raw, policy=policy.default).iter_parts():
    if part.get_filename() is not None:
        continue
    expected += text_of(part)
with open(os.path.join(here, "wrapped.eml"), "wb") as f:
    f.write(raw)
with open(os.path.join(here, "wrapped.expected"), "wb") as f:
    f.write(expected)
