#!/usr/bin/env python3
"""Independent writer and reader of an installation around the
administration session of admin_client.c, from the record layouts alone.

    session_files.py make DIR MODE [DB.dll]   DIR/install (storage mode MODE), DIR/empty and what the
                                              maintenance part reads (maintenance_files.py)
    session_files.py check DIR MODE EXPECTED  the files the session left, and its transcript
"""
import os
import shutil
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from records import (ACCOUNT, DOMAIN, ENTRY, REMOTE, Account, DomainRecord, Entry, Remote, Settings,  # noqa: E402
                     records, remote, scramble, settings_record, text, write)
import maintenance_files  # noqa: E402


def make(out, mode, db):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.join(out, "empty"))
    install = os.path.join(out, "install")
    config = os.path.join(install, "config")
    settings = settings_record()
    settings[Settings.STORAGE_MODE] = mode
    write(os.path.join(config, "settings.cfg"), scramble(settings))
    write(os.path.join(config, "remote.cfg"), b"".join(scramble(remote(*r)) for r in (("pop1", "st1"), ("pop2", ""))))
    for suffix in ("", ".hdr", ".dom", ".rt"):
        write(os.path.join(config, "st1" + suffix), b"state")
    write(os.path.join(install, "default.ini"), b"MaxMessageSize=77\r\ndomainmblimit = 5\r\n")
    write(os.path.join(install, "mail", "a.test", "bob", "1.imap"), b"mail")
    write(os.path.join(install, "mail", "c.test", "2.imap"), b"mail")
    if mode == 2:
        shutil.copy(db, os.path.join(install, "DB.dll"))
    maintenance_files.make(out)


def check(out, mode, expected):
    install = os.path.join(out, "install")
    config = os.path.join(install, "config")
    problems = []

    def expect(what, got, want):
        if got != want:
            problems.append(f"{what}: {got!r}, expected {want!r}")

    got = open(os.path.join(out, "transcript.txt"), encoding="latin-1").read().splitlines()
    want = [line for line in open(expected, encoding="latin-1").read().splitlines()
            if mode == 2 or not line.startswith("[db] ")]
    for number, (g, w) in enumerate(zip(got, want), 1):
        expect(f"transcript line {number}", g, w)
    expect("transcript lines", len(got), len(want))

    settings = scramble(open(os.path.join(config, "settings.cfg"), "rb").read())
    expect("domain count", struct.unpack_from("<I", settings, Settings.DOMAIN_COUNT)[0], 1)
    table = open(os.path.join(config, "domains.cfg"), "rb").read()
    expect("domains.cfg", [(text(table, i), table[i + Entry.ADDRESS:i + ENTRY]) for i in range(0, len(table), ENTRY)],
           [("a.test", b"\xff\xff\xff\xff")])
    domain = scramble(open(os.path.join(config, "a.test", "domain.cfg"), "rb").read())
    expect("domain.cfg", (len(domain), text(domain, DomainRecord.ADMIN_ALIAS)), (DOMAIN, "postmaster"))
    expect("bind.dat", open(os.path.join(config, "a.test", "bind.dat"), "rb").read(), b"192.0.2.9\r\n")
    expect("domain.dat", open(os.path.join(install, "mail", "a.test", "ann", "domain.dat"), "rb").read(),
           b"a.test\r\n")
    users = os.path.join(config, "a.test", "users.cfg")
    if mode == 2:
        written = [os.path.join(d, f) for d, _, files in os.walk(install) for f in files if f == "users.cfg"]
        expect("users.cfg files in storage mode 2", written, [])
        log = [line.split() for line in open(os.path.join(install, "standin-calls.log")).read().splitlines()]
        paired = any(a[0] == "DBGetUsers" and b[0] == "DBDeleteUsers" and a[1] == b[1] for a, b in zip(log, log[1:]))
        expect("DBGetUsers directly followed by DBDeleteUsers on one thread", paired, True)
    else:
        expect("users.cfg", [(r[Account.KIND], text(r, Account.ALIASES), text(r, Account.MAILBOX),
                              text(r, Account.PASSWORD), r[Account.TYPE2_FLAG], text(r, Account.MAILBOX_PATH))
                             for r in records(users, ACCOUNT)],
               [(0, "ANN;anna.b", "ann", "Secret12", 1, "a.test\\ann\\")] +
               [(0, f"spam{i}", f"spam{i}", "longpass12", 0, f"a.test\\spam{i}\\") for i in (1, 2, 3)])
    expect("remote.cfg", [(text(r, Remote.NAME), text(r, Remote.STATE_FILE))
                          for r in records(os.path.join(config, "remote.cfg"), REMOTE)],
           [("pop2b", ""), ("pop3", "")])
    gone = ["config/st1", "config/st1.hdr", "config/st1.dom", "config/st1.rt", "config/b.test",
            "config/c.test/domain.cfg", "config/e.test", "config/f.test", "mail/a.test/bob", "mail/c.test", "config/a.test/users.cfg.tmp"]
    expect("files that should be gone", [g for g in gone if os.path.exists(os.path.join(install, g))], [])
    problems += maintenance_files.check(out)
    for line in problems:
        print(line)
    print("session files as expected" if not problems else f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], int(sys.argv[3]), sys.argv[4] if len(sys.argv) > 4 else None)
        sys.exit(0)
    sys.exit(check(sys.argv[2], int(sys.argv[3]), sys.argv[4]))
