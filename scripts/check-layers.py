#!/usr/bin/env python3
"""Fails when a folder of the project includes a header of a folder on a
higher floor. The floors, lowest first; folders on one floor may include
each other only where the table lists them as one floor. A folder missing
from the table fails too, so every new folder is placed deliberately."""
import pathlib
import re
import sys

FLOORS = [
    ["include"],                          # public C headers of the DLLs
    ["core/util"],                        # text, numbers, codecs: no OS call
    ["core/platform", "core/mime"],       # Win32 helpers; MIME codecs over util
    ["core/config", "core/archive", "core/lists/rules", "core/auth/rules", "core/messages/text", "core/ldap/rules", "core/antispam/dat"],  # records, archive format, pure rules
    ["core/control", "core/accounts/records", "core/domains/entries", "core/userstat/report"],
    ["core/db"],                          # database back-end loader
    ["core/domains"],                     # domain table, bindings, address checks
    ["core/accounts", "core/antispam"],   # account store and caches; anti-spam settings
    ["core/lists", "core/ldap"],          # checks and defaults over accounts and domains; directory sync
    ["core/auth", "core/messages"],       # login checks; mailbox message files and address lists
    ["core/userstat"],                    # user statistics report over accounts and mailboxes
    ["core/startup"],                     # load and save sequences over all of the above
    ["api", "sender", "backend"],         # the libraries' own code; DB.dll
    ["installer"],
]

# Files of a folder that sit on a lower floor than the folder itself.
SUBFLOORS = {
    "core/accounts/AccountRecord": "core/accounts/records",
    "core/domains/DomainEntries": "core/domains/entries",
    "core/lists/Groups": "core/lists/rules",
    "core/lists/Defaults": "core/lists/rules",
    "core/auth/PasswordRules": "core/auth/rules",
    "core/messages/MessageText": "core/messages/text",
    "core/messages/MessageContext": "core/messages/text",
    "core/messages/AddressList": "core/messages/text",
    "core/userstat/StatReport": "core/userstat/report",
    "core/ldap/SlapdConfig": "core/ldap/rules",
    "core/ldap/DirectoryEntry": "core/ldap/rules",
    "core/antispam/SpamDat": "core/antispam/dat",
}

# Folders of one floor that are separate libraries: neither includes the other.
APART = {("backend", "api"), ("backend", "sender")}


def floor_of(path: str):
    stem = path.rsplit(".", 1)[0]
    if stem in SUBFLOORS:
        path = SUBFLOORS[stem]
    best = None
    for level, folders in enumerate(FLOORS):
        for folder in folders:
            if path == folder or path.startswith(folder + "/"):
                if best is None or len(folder) > len(best[1]):
                    best = (level, folder)
    return best


def main() -> int:
    root = pathlib.Path(__file__).resolve().parent.parent
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
    failures = []
    for top in ("core", "api", "sender", "backend", "installer", "include"):
        for file in sorted((root / top).rglob("*")):
            if file.suffix not in (".h", ".cpp", ".c"):
                continue
            rel = file.relative_to(root).as_posix()
            own = floor_of(rel)
            if own is None:
                failures.append(f"{rel}: its folder has no floor in scripts/check-layers.py")
                continue
            for target in include.findall(file.read_text(errors="replace")):
                if target.startswith("tests/"):
                    failures.append(f"{rel}: includes test code {target}")
                    continue
                other = floor_of(target)
                if other is None:
                    continue  # a header beside it, or outside the tree
                if other[0] > own[0]:
                    failures.append(f"{rel} (floor {own[0]}, {own[1]}) includes {target} (floor {other[0]}, {other[1]})")
                elif (own[1], other[1]) in APART or (other[1], own[1]) in APART:
                    failures.append(f"{rel} ({own[1]}) includes {target} of the separate library {other[1]}")
    for line in failures:
        print(line)
    print(f"layers: {len(failures)} violation(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
