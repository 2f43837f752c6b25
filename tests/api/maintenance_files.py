"""The maintenance part of the administration session (admin_client.c):
what it reads, written here without the library, and what it must leave,
checked with Python's zlib, email and zipfile and tests/support/ilds.py.

make(out)  maint/ (with webmail/config/) and restore/ installations, the
           archives the session restores, the mailbox it converts and the
           messages it indexes (under install/mail/a.test/)
check(out) list of problems
"""
import email
import email.policy
import hashlib
import io
import os
import random
import smtplib
import struct
import tempfile
import time
import zipfile

import ilds
from records import Settings, put, scramble, settings_record, write

HOSTILE = [b"..\\esc1", b"\\esc2", b"C:esc3", b"\\\\srv\\s\\esc4", b"CON", b"a\\..\\..\\esc6"]
IMAP_HEAD = b"0" * 16 + b"00C0FFEE\r\n"
STAMP = time.mktime((2021, 6, 15, 10, 20, 30, 0, 0, -1))


def noise(seed, size):
    return random.Random(seed).randbytes(size)


def settings(mail=""):
    rec = settings_record()
    put(rec, Settings.MAIL_FOLDER, mail)
    return scramble(rec)


# Relative path ("/" separated) -> bytes.
def maint_config():
    return {"settings.cfg": settings(), "sub/x.dat": b"x" * 1000, "sub/deeper/y.bin": noise(1, 200000),
            "empty.dat": b"", "held.dat": b"held open without read sharing"}


def maint_webmail():
    return {"w.ini": b"[webmail]\r\n", "inner/z.txt": b"z" * 70000}


def restore_config():
    return {"settings.cfg": settings(), "keep.dat": b"stays", "replace.dat": b"old"}


def round_entries():
    return {"replace.dat": b"new", "new/deep/n.bin": noise(2, 100000), "empty2.dat": b"",
            "settings.cfg": settings("D:\\mail\\"), "..webmail/config/a.cfg": b"web"}


def hostile_entries():
    """Each refused name followed by a good entry."""
    out = []
    for i, name in enumerate(HOSTILE, 1):
        out += [(name, b"escaped"), (b"good%d.txt" % i, b"good %d" % i)]
    return out


def stuffed(text):
    return smtplib.quotedata(text.decode("latin-1")).encode("latin-1") + b"\r\n.\r\n"


def convert_messages():
    """name -> message text (without stuffing and end mark)."""
    return {"a": b"Subject: dots\r\n\r\n.\r\n..\r\n.x\r\nend",
            "b": b"From: x@a.test\r\n\r\nline\r\n...\r\n\r\n" + b"y" * 3000}


def message(subject, status=None):
    m = email.message.EmailMessage(policy=email.policy.SMTP)
    m["From"] = "a@example.test"
    m["Subject"] = subject
    if status is not None:
        m["X-AntiSpam-Status"] = status
    m.set_content("first line\n.dotted line\nlast\n")
    return m.as_bytes()


def spam_messages():
    """(mailbox-relative path, bytes as written, status afterwards or None
    when it stays as it is, index subfolder of its copy or None)."""
    return [
        ("spam1/g1.tmp", stuffed(message("genuine")), "0", "Genuine"),
        ("spam1/g2.tmp", stuffed(message("was spam", "1")), "0", "Spam-Genuine"),
        ("spam1/note.txt", b"not a message", None, None),
        ("spam1/~Spam/s1.tmp", stuffed(message("spam")), "1", "Spam"),
        ("spam2/root.tmp", stuffed(message("outside the inbox")), None, None),
        ("spam2/inbox/i1.imap", IMAP_HEAD + message("stored"), "0", "Genuine"),
        ("spam2/~Spam/s2.imap", IMAP_HEAD + message("was genuine", "0"), "1", "Genuine-Spam"),
        ("spam3/n1.tmp", stuffed(message("not indexed")), None, None),
    ]


def make(out):
    for folder, files in (("maint/config", maint_config()), ("maint/webmail/config", maint_webmail()),
                          ("restore/config", restore_config())):
        for name, data in files.items():
            write(os.path.join(out, folder, name), data)
    pairs = [(n.replace("/", "\\").encode(), d) for n, d in round_entries().items()]
    write(os.path.join(out, "round.ilds"), ilds.archive(pairs))
    write(os.path.join(out, "hostile.ilds"), ilds.archive(hostile_entries()))
    for name, text in convert_messages().items():
        path = os.path.join(out, "convert", name + ".tmp")
        write(path, stuffed(text))
        os.utime(path, (STAMP, STAMP))
    for path, data, _, _ in spam_messages():
        write(os.path.join(out, "install", "mail", "a.test", path), data)


def tree(folder):
    """Every file below folder: relative path ("/" separated) -> bytes."""
    found = {}
    for base, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(base, name)
            found[os.path.relpath(path, folder).replace(os.sep, "/")] = open(path, "rb").read()
    return found


def zip_header(stamp):
    """The 24 header characters from the DOS words zipfile writes for a file
    of that modification time."""
    data = io.BytesIO()
    with tempfile.NamedTemporaryFile() as file, zipfile.ZipFile(data, "w") as archive:
        os.utime(file.name, (stamp, stamp))
        archive.writestr(zipfile.ZipInfo.from_file(file.name, "x", strict_timestamps=False), b"")
    dostime, dosdate = struct.unpack("<HH", data.getvalue()[10:14])
    return "0" * 16 + "%04X%04X" % (dosdate, dostime)


def check(out):
    problems = []

    def expect(what, got, want):
        if got != want:
            problems.append(f"{what}: {got!r}, expected {want!r}"[:600])

    def backup(name, files, webmail):
        """The archive holds exactly these files, each equal to zlib.compress of
        them and inflating to their bytes."""
        blob = open(os.path.join(out, name), "rb").read()
        expect(name + " header", blob[:13], b"ILDS\x05\x00\x00\x00\x01\x02\x00\x00\x00")
        compressed, _, entries, whole = ilds.read(blob)
        expect(name + " whole", (compressed, whole), (True, True))
        want = {n.replace("/", "\\"): d for n, d in files.items()}
        want.update({"..webmail\\config\\" + n.replace("/", "\\"): d for n, d in webmail.items()})
        got = {n.decode("latin-1"): stored for n, _, stored in entries}
        expect(name + " entries", sorted(got), sorted(want))
        for entry, stored in got.items():
            data = want.get(entry, b"")
            expect(f"{name} {entry} stored", stored == ilds.zlib.compress(data), True)
            expect(f"{name} {entry} inflated", hashlib.sha256(ilds.content(True, stored)).hexdigest(),
                   hashlib.sha256(data).hexdigest())

    # Backups: written into the configuration folder it leaves itself out;
    # a file held open is missing, everything else is there.
    config, webmail = maint_config(), maint_webmail()
    backup("full.ilds", config, webmail)
    backup("maint/config/self.ilds", config, webmail)
    held = dict(config, **{"self.ilds": open(os.path.join(out, "maint/config/self.ilds"), "rb").read()})
    del held["held.dat"]
    backup("held.ilds", held, webmail)
    backup("plain.ilds", restore_config(), {})

    # Restores: the configuration folder holds exactly the files restored
    # over the old ones; the root folder nothing else; refused names nowhere.
    want = dict(restore_config(), **round_entries())
    want.update({n.decode(): d for n, d in hostile_entries() if n.startswith(b"good")})
    expect("restored configuration folder", tree(os.path.join(out, "restore", "config")), want)
    expect("restore root folder", sorted(os.listdir(os.path.join(out, "restore"))), ["config"])
    escaped = [p for p in tree(out) if os.path.basename(p).startswith("esc")]
    escaped += [n for n in os.listdir("/") if n.startswith("esc")]
    expect("files of refused names", escaped, [])
    expect("temporary files left", [p for p in tree(out) if "~ilds" in p], [])

    # Conversion: ".imap" files with zipfile's DOS time of the ".tmp" file and
    # its unstuffed text; back again, the ".tmp" files as they were.
    inbox, wanted = os.path.join(out, "convert", "inbox"), {}
    for name, text in convert_messages().items():
        header = zip_header(STAMP)
        wanted[f"{name}-{header}.imap"] = header.encode() + b"\r\n" + text
    expect("converted inbox", tree(inbox), wanted)
    expect("converted back", {n: d for n, d in tree(os.path.join(out, "convert")).items() if "/" not in n},
           {name + ".tmp": stuffed(text) for name, text in convert_messages().items()})

    # The index: status headers as an email parser reads them, everything
    # else unchanged, and a copy of each newly marked message.
    mail, index = os.path.join(out, "install", "mail", "a.test"), os.path.join(out, "install", "Spam", "Index")
    copies = {}
    for path, before, status, sub in spam_messages():
        after = open(os.path.join(mail, path), "rb").read()
        if status is None:
            expect(path + " untouched", after, before)
            continue
        head = 26 if path.endswith(".imap") else 0
        expect(path + " head", after[:head], before[:head])
        parsed = email.message_from_bytes(after[head:], policy=email.policy.default)
        expect(path + " status", parsed.get_all("X-AntiSpam-Status"), [status])
        original = email.message_from_bytes(before[head:], policy=email.policy.default)
        rest = [(k, v) for k, v in parsed.items() if k.lower() != "x-antispam-status"]
        expect(path + " other headers", rest, [(k, v) for k, v in original.items() if k.lower() != "x-antispam-status"])
        expect(path + " body", after.partition(b"\r\n\r\n")[2], before.partition(b"\r\n\r\n")[2])
        copies[sub + "/" + os.path.basename(path)] = after
    expect("index copies", tree(index), copies)
    return problems
