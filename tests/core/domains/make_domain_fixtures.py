#!/usr/bin/env python3
"""Writes installations in the older domain-table forms, each with the
"domains.cfg" that loading and saving it must produce, from the record
layout alone (struct and the scrambling key), independently of the library.

    make_domain_fixtures.py OUTDIR

OUTDIR/<case>/config/settings.cfg (and domains.cfg where the case has one)
and OUTDIR/<case>/expected-domains.cfg."""
import os
import struct
import sys

KEY = bytes.fromhex("3C91E07A55D2188BF46A0D27C3B9E150")
RECORD = 20864


def scramble(data: bytes, start: int) -> bytes:
    return bytes(b ^ KEY[(start + i) % 16] for i, b in enumerate(data))


def settings(count: int, layout96: int, extra=()):
    rec = bytearray(RECORD)
    struct.pack_into("<I", rec, 7020, count)
    rec[7001] = layout96
    for offset, data in extra:
        rec[offset:offset + len(data)] = data
    return rec


def entry(name: str, address=(0, 0, 0, 0)) -> bytes:
    raw = name.encode("latin-1")
    return bytes([len(raw)]) + raw + bytes(91 - len(raw)) + bytes(address)


def short(name: str, width: int) -> bytes:
    raw = name.encode("latin-1")
    return bytes([len(raw)]) + raw + bytes(width - len(raw))


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
    listed = b"".join(entry(n, a) for n, a in names)
    head = scramble(bytes(rec[:20344]), 0)
    write(outdir, "legacy-list", head + scramble(listed, 8),
          expected=b"".join(entry(n.lower(), a) for n, a in names))

    # A full-size "settings.cfg" whose list holds one entry: every byte from
    # 20,344 on is entry data (20,436 is the entry's address), none settings.
    rec = settings(1, 1, [(20344, entry("One.test", (99, 0, 0, 0))), (20440, struct.pack("<i", 77)),
                          (20445, b"\x09"), (20863, b"\xAB")])
    write(outdir, "legacy-full", scramble(bytes(rec), 0), expected=entry("one.test", (99, 0, 0, 0)))

    # The in-record table: 128-byte short strings from byte 7,024; the list
    # at 20,344 is absent (an old, shorter "settings.cfg").
    old = [" First.test ", "second.test"]
    rec = settings(2, 0, [(7024 + 128 * i, short(n, 127)) for i, n in enumerate(old)])
    write(outdir, "in-record", scramble(bytes(rec[:20344]), 0),
          expected=b"".join(entry(n.strip().lower()) for n in old))

    # The 32-byte layout: "domains.cfg" of 32-byte entries while byte 7,001 is 0.
    small = ["one.test", "Two.test", "three.test"]
    rec = settings(3, 0)
    write(outdir, "layout32", scramble(bytes(rec), 0), b"".join(short(n, 31) for n in small),
          expected=b"".join(entry(n.lower()) for n in small))


if __name__ == "__main__":
    main(sys.argv[1])
