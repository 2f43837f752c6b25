#!/usr/bin/env python3
"""Writes an installation for the statistics report from the file layouts
of tests/support/records.py alone: userstat_fixture.py OUTDIR

config/: settings.cfg (five domains, an empty mail folder, which becomes
OUTDIR\\mail\\), domains.cfg, users.cfg of four domains, groups.dat; under
mail/ (and OUTDIR/abs/box, an absolute mailbox path) the statistics files
and message files."""
import datetime
import math
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from records import Settings, account, domain_entry, scramble, settings_record, write  # noqa: E402

EPOCH = datetime.date(1899, 12, 30)
MS, BIG = 86400000.0, 4000000000


def day(y, m, d):
    return float((datetime.date(y, m, d) - EPOCH).days)


FROM, TO = day(2024, 1, 10), day(2024, 3, 20)


def days(records, tail=b""):
    """(day, received, sent, sent-out messages, received, sent, sent-out bytes)"""
    return b"".join(struct.pack("<d6I", *r) for r in records) + tail


def spread(seed, first, last, step):
    n = int((last - first) / step) + 1
    return [(first + i * step,) + tuple((seed * 7919 + i * 104729 + c * 1299709) % 100000 for c in range(6))
            for i in range(n)]


def main(out):
    out = os.path.abspath(out)
    config, mail, absolute = (os.path.join(out, p) for p in ("config", "mail", "abs/box"))
    domains = {
        "example.com": [(0, "bob;robert", "example.com\\bob"), (1, "list", "example.com\\list"), (0, "nopath", ""),
                        (0, "abs", "Z:" + absolute.replace("/", "\\")), (0, "idle", "example.com\\idle")],
        "other.org": [(0, "carol", "other.org\\carol"), (0, "[staff];team", "other.org\\team"),
                      (0, "line\r\nbreak", "other.org\\lb")],
        "exam": [(0, "ex1", "exam\\ex1")],
        "third.net": [(0, "zed", "third.net\\zed")],
        "nousers.net": None,
    }
    settings = settings_record(len(domains))
    settings[Settings.STORAGE_MODE] = 1  # account files
    write(os.path.join(config, "settings.cfg"), scramble(settings))
    write(os.path.join(config, "domains.cfg"), b"".join(domain_entry(d) for d in domains))
    for name, users in domains.items():
        os.makedirs(os.path.join(config, name), exist_ok=True)
        if users:
            write(os.path.join(config, name, "users.cfg"),
                  b"".join(scramble(account(aliases, kind=kind, path=path)) for kind, aliases, path in users))
    write(os.path.join(config, "groups.dat"), b"[other]\r\nzed\r\n\r\n[staff]\r\ndave\r\n")

    # bob: both edges and their neighbours, noon on the to date, the last
    # half millisecond before the from date (rounds into it) and one just
    # outside that, big counters, days that never count, a partial tail.
    edges = [(FROM - 1, 1, 1, 1, 1, 1, 1), (FROM, 10, 20, 30, 40, 50, 60), (FROM - 0.3 / MS, 100, 0, 0, 0, 0, 0),
             (FROM - 0.7 / MS, 200, 0, 0, 0, 0, 0), (TO, 7, 8, 9, 10, 11, 12), (TO + 0.5, 1000, 2000, 3000, 4000, 5000, 6000),
             (TO + 1, 5, 5, 5, 5, 5, 5), (0.25, 3, 0, 0, 3, 0, 0), (-0.25, 4, 0, 0, 4, 0, 0)]
    edges += [(v, 9, 9, 9, 9, 9, 9) for v in (math.nan, math.inf, -math.inf, 3.0e6, -7.0e5)]
    edges += [(FROM + 5 + i, BIG, BIG, BIG, BIG, BIG, BIG) for i in range(5)]
    files = {  # folder: (userstat.dat, useraccess.dat, message files)
        "example.com/bob": (days(edges, b"\x01" * 20),
                            struct.pack("<3d", 0.0, day(2024, 2, 29) + 86399.9996 / 86400, day(2024, 3, 1) + 0.34410),
                            [("1.imap", 1000), ("sub/2.tmp", 2000), ("sub/deep/3.imap", 3000), ("x.tmpl", 500),
                             ("notes.txt", 700)]),
        "example.com/list": (days(spread(1, FROM, TO, 3)), None, [("l.imap", 4096)]),
        absolute: (days(spread(2, FROM - 30, TO + 30, 1)), struct.pack("<2d", 45292, 45293),
                   [("a.imap", 65536), ("in/b.tmp", 1)]),
        "example.com/idle": (days(spread(3, FROM - 60, FROM - 1, 1) + spread(4, TO + 1, TO + 9, 1)), None,
                             [("i.imap", 777)]),
        "other.org/carol": (days(spread(5, FROM, TO, 2)),
                            struct.pack("<3d", day(2023, 12, 31) + 0.75, day(1900, 1, 1), day(2100, 12, 31) + 0.999)
                            + b"\xff" * 24, [("c1.imap", 123), ("c2.tmp", 456), ("deep/er/c3.imap", 789)]),
        "other.org/team": (days([(FROM + 1, 1, 2, 3, 4, 5, 6)]), None, [("m.imap", 100)]),
        "exam/ex1": (days(spread(6, FROM, TO, 5)), None, [("e.imap", 321)]),
        "third.net/zed": (days(spread(7, FROM - 2, TO + 2, 1)), struct.pack("<3d", -1.5, math.nan, 2958466.0),
                          [("z.imap", 50000), ("z.tmp", 1)]),
        "": (days(spread(8, FROM - 10, TO + 10, 1) + [(TO, BIG, BIG, BIG, BIG, BIG, BIG)]),
             struct.pack("<3d", day(2024, 3, 19) + 0.5, TO, 45000.123456), []),
    }
    for folder, (stat, access, messages) in files.items():
        folder = os.path.join(mail, folder)
        write(os.path.join(folder, "userstat.dat"), stat)
        if access is not None:
            write(os.path.join(folder, "useraccess.dat"), access)
        for name, size in messages:
            write(os.path.join(folder, name), b"m" * size)


if __name__ == "__main__":
    main(sys.argv[1])
