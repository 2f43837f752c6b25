#!/usr/bin/env python3
"""Independent writer and reader of the installation that shared_install.cpp
administers from two processes at once, from the record layouts alone.

    shared_files.py make DIR    DIR/install serving one domain
    shared_files.py check DIR   what the processes left there
"""
import os
import shutil
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from records import (ACCOUNT, DOMAIN, ENTRY, Account, Settings, domain_entry, put, records,  # noqa: E402
                     scramble, settings_record, text, write)

MAIL_FOLDER = 512


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\") + "\\"


def make(out):
    shutil.rmtree(out, ignore_errors=True)
    config = os.path.join(out, "install", "config")
    settings = settings_record(1)
    put(settings, MAIL_FOLDER, windows_path(os.path.join(out, "install", "mail")))
    write(os.path.join(config, "settings.cfg"), scramble(settings))
    write(os.path.join(config, "domains.cfg"), domain_entry("a.test"))
    write(os.path.join(config, "a.test", "domain.cfg"), scramble(bytes(DOMAIN)))


def check(out):
    install = os.path.join(out, "install")
    config = os.path.join(install, "config")
    problems = []

    def expect(what, got, want):
        if got != want:
            problems.append(f"{what}: {got!r}, expected {want!r}"[:2000])

    def aliases(domain):
        path = os.path.join(config, domain, "users.cfg")
        return [text(r, Account.ALIASES) for r in records(path, ACCOUNT)] if os.path.exists(path) else []

    got = aliases("a.test")
    want = [f"{p}{i}" for p in "pq" for i in range(1500)] + ["k0", "k1", "d0"]
    expect("a.test accounts", len(got), len(want))
    expect("a.test aliases, each once", sorted(got), sorted(want))
    expect("s.test aliases, each once", sorted(aliases("s.test")), sorted(f"s{i}" for i in range(500)))
    settings = scramble(open(os.path.join(config, "settings.cfg"), "rb").read())
    table = open(os.path.join(config, "domains.cfg"), "rb").read()
    names = [text(table, i) for i in range(0, len(table), ENTRY)]
    want = ["a.test", "s.test", "killed0.test", "after.test", "new.test"]
    want += [f"d{p}{i}.test" for p in "ab" for i in range(30)]
    expect("domains.cfg", sorted(names), sorted(want))
    expect("domain count at 7,020", struct.unpack_from("<I", settings, Settings.DOMAIN_COUNT)[0], len(want))
    # Ids 12 and 57, set by one process each (4321), the field after 12 (id
    # 13) untouched, and id 14 at 1: the load found no "scan.cfg".
    expect("settings of both processes", struct.unpack_from("<HBB", settings, 242) + struct.unpack_from("<H", settings, 1458),
           (4321, 0, 1, 4321))
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
    if sys.argv[1] == "make":
        make(sys.argv[2])
        sys.exit(0)
    sys.exit(check(sys.argv[2]))
