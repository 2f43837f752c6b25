#!/usr/bin/env python3
"""Independent writer and reader of the back end's SQLite schema.

  backend_fixture.py write DB   creates DB as an installation would hold it
                                 (the schema written out here, not taken from
                                 the library) and removes DB + ".done"
  backend_fixture.py check DB   checks what the back end's test wrote into DB
                                 (it touches DB + ".done" when it finished)

Texts are bytes in the records' 8-bit code page (Latin-1 here); names and
aliases are stored lower-cased in ASCII only, every other byte as it is.
"""
import os
import sqlite3
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from records import DOMAIN as DOMAIN_RECORD, account  # noqa: E402

SCHEMA = [
    "CREATE TABLE domains (id INTEGER PRIMARY KEY, name BLOB NOT NULL UNIQUE, ordinal INTEGER NOT NULL,"
    " record BLOB NOT NULL, binding BLOB)",
    "CREATE TABLE accounts (id INTEGER PRIMARY KEY, domain_id INTEGER NOT NULL, position INTEGER NOT NULL,"
    " mailbox BLOB, record BLOB NOT NULL, UNIQUE (domain_id, position))",
    "CREATE INDEX accounts_mailbox ON accounts (mailbox)",
    "CREATE TABLE account_aliases (account_id INTEGER NOT NULL, domain_id INTEGER NOT NULL, alias BLOB NOT NULL)",
    "CREATE INDEX account_aliases_lookup ON account_aliases (domain_id, alias)",
    "CREATE INDEX account_aliases_account ON account_aliases (account_id)",
]


def ascii_lower(data: bytes) -> bytes:
    return bytes(c + 32 if 65 <= c <= 90 else c for c in data)


# The installation before the test: (name, ordinal, binding, accounts).
DOMAIN_PATTERN = bytes(i % 251 for i in range(DOMAIN_RECORD))
BEFORE = [
    (b"caf\xe9.test", 2, None, []),
    (b"alpha.test", 1, b"10.0.0.1;10.0.0.2", [
        (b"Ann;anna", b"Ann", b"pw0"),
        (b"bob", b"bob", b"pw1"),
        (b"ren\xc9; r\xe9ne ", b"Ren\xe9", b"p\xe4ss"),
    ]),
]

# What the test does: add "Neu.test"; append an account to café.test; read
# and delete alpha.test's account 1; bind café.test; rename alpha.test.
AFTER = [  # (name, binding, record, accounts in position order)
    (b"alpha2.test", b"10.0.0.1;10.0.0.2", DOMAIN_PATTERN, [BEFORE[1][3][0], BEFORE[1][3][2]]),
    (b"caf\xe9.test", b"192.0.2.7", DOMAIN_PATTERN, [(b"J\xfcrgen;jy", b"J\xfcrgen", b"x")]),
    (b"neu.test", None, bytes(DOMAIN_RECORD), []),
]


def write(path):
    for name in (path, path + ".done"):
        if os.path.exists(name):
            os.remove(name)
    db = sqlite3.connect(path)
    for sql in SCHEMA:
        db.execute(sql)
    for name, ordinal, binding, accounts in BEFORE:
        cur = db.execute("INSERT INTO domains (name, ordinal, record, binding) VALUES (?, ?, ?, ?)",
                         (name, ordinal, DOMAIN_PATTERN, binding))
        domain_id = cur.lastrowid
        for position, (aliases, mailbox, password) in enumerate(accounts):
            cur = db.execute("INSERT INTO accounts (domain_id, position, mailbox, record) VALUES (?, ?, ?, ?)",
                             (domain_id, position, ascii_lower(mailbox), account(aliases, mailbox, password)))
            for alias in aliases.split(b";"):
                db.execute("INSERT INTO account_aliases VALUES (?, ?, ?)",
                           (cur.lastrowid, domain_id, ascii_lower(alias.strip())))
    db.commit()
    db.close()


def check(path):
    if not os.path.exists(path + ".done"):
        return ["the back end's test did not finish its writes"]
    db = sqlite3.connect(path)
    errors = []
    domains = db.execute("SELECT id, name, binding, record FROM domains ORDER BY ordinal, id").fetchall()
    if [(n, b, r) for _, n, b, r in domains] != [(n, b, r) for n, b, r, _ in AFTER]:
        errors.append("domains: %r" % [(n, b, len(r)) for _, n, b, r in domains])
    for (domain_id, name, _, _), (_, _, _, accounts) in zip(domains, AFTER):
        rows = db.execute("SELECT id, position, mailbox, record FROM accounts WHERE domain_id = ? ORDER BY position",
                          (domain_id,)).fetchall()
        want = [(p, ascii_lower(m), account(a, m, pw)) for p, (a, m, pw) in enumerate(accounts)]
        if [(p, m, r) for _, p, m, r in rows] != want:
            errors.append("accounts of %r: %r" % (name, [(p, m) for _, p, m, _ in rows]))
        for (account_id, _, _, _), (aliases, _, _) in zip(rows, accounts):
            got = sorted(a for (a,) in db.execute(
                "SELECT alias FROM account_aliases WHERE account_id = ? AND domain_id = ?", (account_id, domain_id)))
            expected = sorted(ascii_lower(a.strip()) for a in aliases.split(b";"))
            if got != expected:
                errors.append("aliases of %r in %r: %r" % (aliases, name, got))
    orphans = db.execute("SELECT COUNT(*) FROM account_aliases WHERE account_id NOT IN (SELECT id FROM accounts)")
    if orphans.fetchone()[0] != 0:
        errors.append("aliases of deleted accounts are left")
    return errors


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write(sys.argv[2])
        print("fixture written:", sys.argv[2])
    else:
        problems = check(sys.argv[2])
        for p in problems:
            print("MISMATCH", p)
        print("fixture check:", "ok" if not problems else "%d problem(s)" % len(problems))
        sys.exit(1 if problems else 0)
