#!/usr/bin/env python3
"""Mailbox fixtures for the index builder, written with Python's email package.

make DIR   writes DIR/box (genuine) and DIR/box/~Spam (spam), each message also
           kept under DIR/before.
check DIR  compares each message with its earlier copy: every byte equal but
           the status line, and the 26 bytes in front of an ".imap" text unchanged.
"""
import os
import sys
from email.message import EmailMessage
from email.policy import SMTP

IMAP_HEAD = bytes(range(1, 27))


def message(subject, status=None, attach=False):
    m = EmailMessage(policy=SMTP)
    m["From"] = "a@example.test"
    m["Subject"] = subject
    if status is not None:
        m["X-AntiSpam-Status"] = status
    m.set_content("first line\n.dotted line\nlast\n")
    if attach:
        m.add_attachment(bytes(range(256)) * 8, maintype="application", subtype="octet-stream", filename="b.bin")
    return m.as_bytes()


def stuffed(text):
    lines = text.split(b"\r\n")[:-1]
    return b"".join((b"." + l if l.startswith(b".") else l) + b"\r\n" for l in lines) + b".\r\n"


# (folder, name, bytes, expected status after the run)
def fixtures():
    return [
        ("box", "plain.tmp", stuffed(message("plain")), b"0"),
        ("box", "attached.tmp", stuffed(message("attached", attach=True)), b"0"),
        ("box", "was-spam.tmp", stuffed(message("was spam", status="1")), b"0"),
        ("box", "stored.imap", IMAP_HEAD + message("stored", attach=True), b"0"),
        ("box/~Spam", "spam.tmp", stuffed(message("spam", attach=True)), b"1"),
        ("box/~Spam", "was-genuine.imap", IMAP_HEAD + message("was genuine", status="0"), b"1"),
    ]


def without_status(data):
    head, sep, body = data.partition(b"\r\n\r\n")
    kept = [l for l in head.split(b"\r\n") if not l.lower().startswith(b"x-antispam-status:")]
    status = [l for l in head.split(b"\r\n") if l.lower().startswith(b"x-antispam-status:")]
    return b"\r\n".join(kept) + sep + body, status


def main():
    mode, root = sys.argv[1], sys.argv[2]
    failed = 0
    for folder, name, data, status in fixtures():
        path = os.path.join(root, folder, name)
        kept = os.path.join(root, "before", folder.replace("/", "_") + "_" + name)
        if mode == "make":
            for p in (path, kept):
                os.makedirs(os.path.dirname(p), exist_ok=True)
                with open(p, "wb") as f:
                    f.write(data)
            continue
        with open(path, "rb") as f:
            after = f.read()
        with open(kept, "rb") as f:
            before = f.read()
        offset = 26 if name.endswith(".imap") else 0
        rest_after, found = without_status(after[offset:])
        rest_before, _ = without_status(before[offset:])
        ok = after[:offset] == before[:offset] and rest_after == rest_before
        ok = ok and found == [b"X-AntiSpam-Status: " + status]
        if not ok:
            failed += 1
            print("FAIL", folder, name, found)
    if mode == "check":
        print(len(fixtures()) - failed, "passed,", failed, "failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
