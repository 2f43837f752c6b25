#!/usr/bin/env python3
"""Writes installations in the older domain-table forms, each with the
"domains.cfg" that loading and saving it must produce, from the record
layouts of tests/support/records.py alone, independently of the library.

    make_domain_fixtures.py OUTDIR

OUTDIR/<case>/config/settings.cfg (and domains.cfg where the case has one)
and OUTDIR/<case>/expected-domains.cfg."""
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from records import Settings, domain_entry, scramble, settings_record, short  # noqa: E402


def settings(count: int, layout96: int, extra=()):
    rec = settings_record(count)
    rec[Settings.DOMAIN_LAYOUT] = layout96
    for offset, data in extra:
        rec[offset:offset + len(data)] = data
    return rec


def write(outdir, case, settings_bytes, domains=None, expected=b""):
    folder = os.path.join(outdir, case, "config")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "settings.cfg"), "wb") as f:
        f.write(settings_bytes)
    if domains is not None:
        with open(os.path.join(folder, "domains.cfg"), "wb") as f:
            f.write(domains)
    with open(os.path.join(outdir, case, "expected-domains.cfg"), "wb") as f:
        f.write(expected)


def main(outdir):
    # The list inside "settings.cfg" from byte 20,344, scrambled as a
    # continuation of the record (key index 20,344 mod 16 = 8).
    names = [("Alpha.TEST", (192, 0, 2, 1)), ("beta.test", (0, 0, 0, 0)), ("Gamma.test", (255, 255, 255, 255))]
    rec = settings(3, 1)
    listed = b"".join(domain_entry(n, a) for n, a in names)
    head = scramble(bytes(rec[:Settings.LEGACY_DOMAINS]), 0)
    write(outdir, "legacy-list", head + scramble(listed, 8),
          expected=b"".join(domain_entry(n.lower(), a) for n, a in names))

    # A full-size "settings.cfg" whose list holds one entry: every byte from
    # 20,344 on is entry data (20,436 is the entry's address), none settings.
    rec = settings(1, 1, [(Settings.LEGACY_DOMAINS, domain_entry("One.test", (99, 0, 0, 0))),
                          (Settings.LOCKOUT_MINUTES, struct.pack("<i", 77)),
                          (20445, b"\x09"), (20863, b"\xAB")])
    write(outdir, "legacy-full", scramble(bytes(rec), 0), expected=domain_entry("one.test", (99, 0, 0, 0)))

    # The in-record table: 128-byte short strings from byte 7,024; the list
    # at 20,344 is absent (an old, shorter "settings.cfg").
    old = [" First.test ", "second.test"]
    rec = settings(2, 0, [(Settings.OLD_DOMAIN_TABLE + 128 * i, short(n, 127)) for i, n in enumerate(old)])
    write(outdir, "in-record", scramble(bytes(rec[:Settings.LEGACY_DOMAINS]), 0),
          expected=b"".join(domain_entry(n.strip().lower()) for n in old))

    # The 32-byte layout: "domains.cfg" of 32-byte entries while byte 7,001 is 0.
    small = ["one.test", "Two.test", "three.test"]
    rec = settings(3, 0)
    write(outdir, "layout32", scramble(bytes(rec), 0), b"".join(short(n, 31) for n in small),
          expected=b"".join(domain_entry(n.lower()) for n in small))


if __name__ == "__main__":
    main(sys.argv[1])
