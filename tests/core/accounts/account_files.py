#!/usr/bin/env python3
"""Independent reader and writer of the account files, from the record
layout alone (struct and the scrambling key).

    account_files.py make OUTDIR    writes config/ with a domain "a.test"
                                    holding users.cfg (3 accounts) and
                                    remote.cfg (2 remote accounts)
    account_files.py check OUTDIR   reads what the library wrote into
                                    OUTDIR/written/ and checks it
"""
import os
import sys

KEY = bytes.fromhex("3C91E07A55D2188BF46A0D27C3B9E150")
ACCOUNT, REMOTE = 2848, 1828


def scramble(record: bytes) -> bytes:
    return bytes(b ^ KEY[i % 16] for i, b in enumerate(record))


def short(text: str, width: int) -> bytes:
    raw = text.encode("latin-1")
    return bytes([len(raw)]) + raw + bytes(width - len(raw))


def account(aliases, mailbox, password, kind=0):
    rec = bytearray(ACCOUNT)
    rec[0] = kind
    rec[260:260 + 256] = short(aliases, 255)
    rec[516:516 + 128] = short(mailbox, 127)
    rec[772:772 + 128] = short(password, 127)
    return bytes(rec)


def remote(name, state):
    rec = bytearray(REMOTE)
    rec[0:64] = short(name, 63)
    rec[1312:1312 + 256] = short(state, 255)
    return bytes(rec)


def records(path, size):
    data = open(path, "rb").read()
    return [scramble(data[i:i + size]) for i in range(0, len(data) - size + 1, size)]


def text(rec, offset):
    return rec[offset + 1:offset + 1 + rec[offset]].decode("latin-1")


def make(out):
    folder = os.path.join(out, "config", "a.test")
    os.makedirs(folder, exist_ok=True)
    users = [account("ann;Anna.B", "ann", "pw1"), account("bob", "bob", "s\xe9cret"), account("[Staff];cy", "cy", "x")]
    with open(os.path.join(folder, "users.cfg"), "wb") as f:
        f.write(b"".join(scramble(r) for r in users) + b"\x01\x02\x03")  # a partial tail is no record
    with open(os.path.join(out, "config", "remote.cfg"), "wb") as f:
        f.write(b"".join(scramble(r) for r in [remote("pop1", "state1"), remote("pop2", "")]))


def check(out):
    written = os.path.join(out, "written")
    users = records(os.path.join(written, "users.cfg"), ACCOUNT)
    got = [(text(r, 260), text(r, 516), text(r, 772)) for r in users]
    want = [("ann;Anna.B", "ann", "changed"), ("cy-new;[Staff]", "cy", "x"), ("dan", "dan", "d")]
    if got != want:
        print("users.cfg:", got, "expected", want)
        return 1
    remotes = [text(r, 0) for r in records(os.path.join(written, "remote.cfg"), REMOTE)]
    if remotes != ["pop2", "pop3"]:
        print("remote.cfg:", remotes)
        return 1
    print("account files as expected")
    return 0


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2])
        sys.exit(0)
    sys.exit(check(sys.argv[2]))
