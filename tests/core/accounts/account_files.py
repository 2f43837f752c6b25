#!/usr/bin/env python3
"""Independent reader and writer of the account files, from the record
layouts of tests/support/records.py alone.

    account_files.py make OUTDIR    writes config/ with a domain "a.test"
                                    holding users.cfg (3 accounts) and
                                    remote.cfg (2 remote accounts)
    account_files.py check OUTDIR   reads what the library wrote into
                                    OUTDIR/written/ and checks it
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from records import ACCOUNT, REMOTE, Account, Remote, account, records, remote, scramble, text  # noqa: E402


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
    got = [(text(r, Account.ALIASES), text(r, Account.MAILBOX), text(r, Account.PASSWORD)) for r in users]
    want = [("ann;Anna.B", "ann", "changed"), ("cy-new;[Staff]", "cy", "x"), ("dan", "dan", "d")]
    if got != want:
        print("users.cfg:", got, "expected", want)
        return 1
    remotes = [text(r, Remote.NAME) for r in records(os.path.join(written, "remote.cfg"), REMOTE)]
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
