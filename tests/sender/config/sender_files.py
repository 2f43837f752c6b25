#!/usr/bin/env python3
"""Independent writer of the installations the sending library's test reads
back, from the record layouts alone (records.py):

    sender_files.py make DIR

DIR/full: "settings.cfg" of 20,864 bytes as the administration library
writes it, its last 8 bytes 0xFF; DIR/short: the first 20,000 bytes of it;
DIR/none: no "settings.cfg". Each serves a.test and b.test with accounts in
"users.cfg", a.test's file ending in half a record."""
import os
import shutil
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from records import ACCOUNT, account, domain_entry, scramble, scramble_records, settings_record, write  # noqa: E402

FIRST_PROCESSOR, ID12, ID106, LAST_TAKEN = 1542, 242, 3127, 20855


def settings():
    rec = settings_record(2)
    rec[FIRST_PROCESSOR] = 0
    struct.pack_into("<H", rec, ID12, 4242)
    text = b"written apart"
    rec[ID106:ID106 + 1 + len(text)] = bytes([len(text)]) + text
    rec[20000:LAST_TAKEN] = b"\xA5" * (LAST_TAKEN - 20000)
    rec[LAST_TAKEN] = 0x5A
    rec[LAST_TAKEN + 1:] = b"\xFF" * 8
    return scramble(bytes(rec))


def make(out):
    shutil.rmtree(out, ignore_errors=True)
    whole = settings()
    for name, data in (("full", whole), ("short", whole[:20000]), ("none", None)):
        config = os.path.join(out, name, "config")
        if data is not None:
            write(os.path.join(config, "settings.cfg"), data)
        write(os.path.join(config, "domains.cfg"), domain_entry("a.test") + domain_entry("b.test"))
        a = account("ann;Anna", "ann", "pw-ann") + account("bob", "bob", "pw-bob")
        half = account("zed", "zed", "pw-zed")[:1000]  # an append caught half way
        write(os.path.join(config, "a.test", "users.cfg"), scramble_records(a, ACCOUNT) + scramble(half))
        write(os.path.join(config, "b.test", "users.cfg"), scramble_records(account("carl", "carl", "pw-carl"), ACCOUNT))


if __name__ == "__main__":
    make(sys.argv[2])
