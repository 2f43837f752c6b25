#!/usr/bin/env python3
"""Independent writer and reader of an installation around the
administration session of admin_client.c, from the record layouts alone.

    records.py make DIR MODE [DB.dll]   DIR/install (storage mode MODE) and DIR/empty
    records.py check DIR MODE EXPECTED  the files the session left, and its transcript
    records.py make-shared DIR          DIR/install with one domain, for shared_install
    records.py check-shared DIR         the files two processes at once left there
"""
import os
import shutil
import struct
import sys

KEY = bytes.fromhex("3C91E07A55D2188BF46A0D27C3B9E150")
SETTINGS, DOMAIN, ACCOUNT, REMOTE = 20864, 913, 2848, 1828


def scramble(data):
    return bytes(b ^ KEY[i % 16] for i, b in enumerate(data))


def short(text, width):
    raw = text.encode("latin-1")
    return bytes([len(raw)]) + raw + bytes(width - len(raw))


def text(rec, offset):
    return rec[offset + 1:offset + 1 + rec[offset]].decode("latin-1")


def records(path, size):
    data = open(path, "rb").read()
    return [scramble(data[i:i + size]) for i in range(0, len(data) - size + 1, size)]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make(out, mode, db):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.join(out, "empty"))
    install = os.path.join(out, "install")
    config = os.path.join(install, "config")
    settings = bytearray(SETTINGS)
    settings[7001] = 1          # domain table in its current layout
    settings[3633] = mode       # storage mode
    write(os.path.join(config, "settings.cfg"), scramble(settings))
    remote = b""
    for name, state in (("pop1", "st1"), ("pop2", "")):
        rec = bytearray(REMOTE)
        rec[0:64] = short(name, 63)
        rec[1312:1312 + 256] = short(state, 255)
        remote += scramble(rec)
    write(os.path.join(config, "remote.cfg"), remote)
    for suffix in ("", ".hdr", ".dom", ".rt"):
        write(os.path.join(config, "st1" + suffix), b"state")
    write(os.path.join(install, "default.ini"), b"MaxMessageSize=77\r\ndomainmblimit = 5\r\n")
    write(os.path.join(install, "mail", "a.test", "bob", "1.imap"), b"mail")
    write(os.path.join(install, "mail", "c.test", "2.imap"), b"mail")
    if mode == 2:
        shutil.copy(db, os.path.join(install, "DB.dll"))


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
    expect("domain count at 7,020", struct.unpack_from("<I", settings, 7020)[0], 1)
    table = open(os.path.join(config, "domains.cfg"), "rb").read()
    expect("domains.cfg", [(text(table, i), table[i + 92:i + 96]) for i in range(0, len(table), 96)],
           [("a.test", b"\xff\xff\xff\xff")])
    domain = scramble(open(os.path.join(config, "a.test", "domain.cfg"), "rb").read())
    expect("domain.cfg", (len(domain), text(domain, 128)), (DOMAIN, "postmaster"))
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
        expect("users.cfg", [(r[0], text(r, 260), text(r, 516), text(r, 772), r[1022], text(r, 1028))
                             for r in records(users, ACCOUNT)],
               [(0, "ANN;anna.b", "ann", "Secret12", 1, "a.test\\ann\\")])
    expect("remote.cfg", [(text(r, 0), text(r, 1312)) for r in records(os.path.join(config, "remote.cfg"), REMOTE)],
           [("pop2b", ""), ("pop3", "")])
    gone = ["config/st1", "config/st1.hdr", "config/st1.dom", "config/st1.rt", "config/b.test",
            "config/c.test/domain.cfg", "config/e.test", "config/f.test", "mail/a.test/bob", "mail/c.test", "config/a.test/users.cfg.tmp"]
    expect("files that should be gone", [g for g in gone if os.path.exists(os.path.join(install, g))], [])
    for line in problems:
        print(line)
    print("session files as expected" if not problems else f"{len(problems)} problem(s)")
    return 1 if problems else 0


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\") + "\\"


def make_shared(out):
    shutil.rmtree(out, ignore_errors=True)
    config = os.path.join(out, "install", "config")
    settings = bytearray(SETTINGS)
    settings[7001] = 1
    struct.pack_into("<I", settings, 7020, 1)
    settings[512:512 + 256] = short(windows_path(os.path.join(out, "install", "mail")), 255)
    write(os.path.join(config, "settings.cfg"), scramble(settings))
    write(os.path.join(config, "domains.cfg"), short("a.test", 91) + bytes(4))
    write(os.path.join(config, "a.test", "domain.cfg"), scramble(bytes(DOMAIN)))


def check_shared(out):
    install = os.path.join(out, "install")
    config = os.path.join(install, "config")
    problems = []

    def expect(what, got, want):
        if got != want:
            problems.append(f"{what}: {got!r}, expected {want!r}")

    def aliases(domain):
        path = os.path.join(config, domain, "users.cfg")
        return [text(r, 260) for r in records(path, ACCOUNT)] if os.path.exists(path) else []

    got = aliases("a.test")
    want = [f"{p}{i}" for p in "pq" for i in range(1500)] + ["k0", "k1", "d0"]
    expect("a.test accounts", len(got), len(want))
    expect("a.test aliases, each once", sorted(got), sorted(want))
    expect("s.test aliases, each once", sorted(aliases("s.test")), sorted(f"s{i}" for i in range(500)))
    settings = scramble(open(os.path.join(config, "settings.cfg"), "rb").read())
    table = open(os.path.join(config, "domains.cfg"), "rb").read()
    names = [text(table, i) for i in range(0, len(table), 96)]
    want = ["a.test", "s.test", "killed0.test", "after.test", "new.test"]
    want += [f"d{p}{i}.test" for p in "ab" for i in range(30)]
    expect("domains.cfg", sorted(names), sorted(want))
    expect("domain count at 7,020", struct.unpack_from("<I", settings, 7020)[0], len(want))
    expect("settings of both processes", struct.unpack_from("<HH", settings, 242) + struct.unpack_from("<H", settings, 1458),
           (4321, 0, 4321))
    expect("new.test accounts", aliases("new.test"), ["ann0"])
    kept = os.path.join(install, "mail", "old.test", "ann0", "1.imap")
    expect("the renamed domain's mail", os.path.exists(kept), True)
    strays = [d for d, _, files in os.walk(install) for f in files if f == "domain.dat"]
    expect("domain.dat files", strays, [])
    for line in problems:
        print(line)
    print("shared installation files as expected" if not problems else f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    if sys.argv[1] == "make-shared":
        make_shared(sys.argv[2])
        sys.exit(0)
    if sys.argv[1] == "check-shared":
        sys.exit(check_shared(sys.argv[2]))
    if sys.argv[1] == "make":
        make(sys.argv[2], int(sys.argv[3]), sys.argv[4] if len(sys.argv) > 4 else None)
        sys.exit(0)
    sys.exit(check(sys.argv[2], int(sys.argv[3]), sys.argv[4]))
