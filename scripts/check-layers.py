#!/usr/bin/env python3
"""Fails when a file of the project includes a header of a higher floor.
The floors are the ones the units declare in CMake (vm_unit), as the
configure step writes them:
    check-layers.py [FLOORS_FILE [ROOT]]
FLOORS_FILE defaults to build/native/floors.txt, ROOT to the project.
Each line reads "floor path unit apart": a folder's floor, or, where a path
names a file stem, the lower floor of a unit's portable part. Units of one
floor may include each other, except an "apart" unit (a library of its own).
A source file under none of the declared folders fails too, so every new
folder is placed deliberately."""
import pathlib
import re
import sys


def read_floors(path: pathlib.Path):
    entries = {}
    for line in path.read_text().splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        floor, where, unit, apart = line.split()
        entries[where] = (int(floor), unit, apart == "apart")
    return entries


def place(entries, path: str):
    """The (floor, unit, apart) of a file: its own stem if a portable part
    lists it, else the deepest declared folder holding it."""
    stem = path.rsplit(".", 1)[0]
    if stem in entries:
        return entries[stem]
    parts = path.split("/")
    for length in range(len(parts) - 1, 0, -1):
        folder = "/".join(parts[:length])
        if folder in entries:
            return entries[folder]
    return None


def main(argv) -> int:
    root = pathlib.Path(argv[2]).resolve() if len(argv) > 2 else pathlib.Path(__file__).resolve().parent.parent
    floors_file = pathlib.Path(argv[1]) if len(argv) > 1 else root / "build/native/floors.txt"
    if not floors_file.exists():
        print(f"{floors_file}: missing (configure the native preset first)")
        return 2
    entries = read_floors(floors_file)
    tops = sorted({where.split("/")[0] for where in entries})
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
    failures = []
    for top in tops:
        for file in sorted((root / top).rglob("*")):
            if file.suffix not in (".h", ".cpp", ".c"):
                continue
            rel = file.relative_to(root).as_posix()
            own = place(entries, rel)
            if own is None:
                failures.append(f"{rel}: its folder declares no vm_unit floor")
                continue
            for target in include.findall(file.read_text(errors="replace")):
                if target.startswith("tests/"):
                    failures.append(f"{rel}: includes test code {target}")
                    continue
                other = place(entries, target)
                if other is None:
                    continue  # a header beside it, or outside the tree
                if other[0] > own[0]:
                    failures.append(f"{rel} (floor {own[0]}, {own[1]}) includes {target} (floor {other[0]}, {other[1]})")
                elif other[0] == own[0] and other[1] != own[1] and (own[2] or other[2]):
                    apart = own[1] if own[2] else other[1]
                    failures.append(f"{rel} ({own[1]}) includes {target} ({other[1]}) across the separate library {apart}")
    for line in failures:
        print(line)
    print(f"layers: {len(failures)} violation(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
