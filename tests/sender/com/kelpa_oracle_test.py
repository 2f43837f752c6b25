"""The data packager (kelpa_tool.exe over VelmoraCOM.dll, under Wine)
against the independent archive reader and writer tests/support/ilds.py:
listings of every archive form, hostile listings that must stay bounded
and exact, and hostile archives that must change nothing outside the
target folder.
    kelpa_oracle_test.py path/to/kelpa_tool.exe path/to/VelmoraCOM.dll
"""
import hashlib
import os
import shutil
import struct
import sys
import tempfile
import time
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "support"))
import ilds  # noqa: E402
from wine_com import run, win, wine_env  # noqa: E402

TOOL = os.path.abspath(sys.argv.pop(1))
DLL = os.path.abspath(sys.argv.pop(1))
ENV = wine_env(DLL)
FILES = [(b"top.txt", b"top " * 300), (b"empty", b""), (b"sub\\one.bin", bytes(range(256)) * 40),
         (b"sub\\deep\\leaf", b"leaf")]


def kelpa(*args):
    code, text = run(ENV, win(TOOL), win(DLL), *args, timeout=600)
    assert code in (0, 1), text
    return code == 0


def expected_listing(blob):
    """The listing ilds.py reads: name (bytes below 32 as "?");L CR LF."""
    _, _, entries, _ = ilds.read(blob)
    return "".join("%s;%d\r\n" % (bytes(b if b >= 32 else 63 for b in name).decode("ascii"), length)
                   for name, length, _ in entries)


def snapshot(root, skip=None):
    result = {}
    for folder, subfolders, names in os.walk(root):
        subfolders[:] = [s for s in subfolders if os.path.join(folder, s) != skip]
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                result[os.path.relpath(f.name, root)] = hashlib.sha256(f.read()).hexdigest()
    return result


class KelpaOracle(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="kelpa-oracle-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, blob):
        with open(self.path(name), "wb") as f:
            f.write(blob)
        return win(self.path(name))

    def listing(self, blob):
        archive = self.write("list.ilds", blob)
        self.assertTrue(kelpa("list", archive, win(self.path("list.txt"))))
        with open(self.path("list.txt"), "rb") as f:
            return f.read().decode("utf-8")

    def test_listings_of_every_form(self):
        hello = zlib.compress(b"hello")
        forms = {
            "v2 raw": ilds.archive(FILES, compressed=False),
            "v2 compressed": ilds.archive(FILES),
            "v1": ilds.archive(FILES, version=1),
            "header-less": ilds.archive(FILES, headerless=True),
            "header length 9": ilds.archive(FILES, length=9, pad=b"\xff" * 4),
            "truncated": ilds.archive(FILES)[:-10],
            "empty trimmed name ends it": ilds.archive(FILES[:2]) + ilds.entry(b" \t", b"") + ilds.entry(b"x", b""),
            "CR LF in a name": ilds.archive([(b"a\r\nb", b"x"), (b"c\x01", b"")], compressed=False),
            "header length 0xFFFFFFFF": ilds.header(length=0xFFFFFFFF) + ilds.entry(b"x", b"x"),
            "L = 0xFFFFFFFF": ilds.archive(FILES[:2]) + ilds.entry(b"big", b"", payload=hello, length=0xFFFFFFFF)
            + ilds.entry(b"after", b"after"),
        }
        for what, blob in forms.items():
            expected = expected_listing(blob)
            self.assertEqual(self.listing(blob), expected, what)
        self.assertEqual(expected_listing(forms["CR LF in a name"]), "a??b;1\r\nc?;0\r\n")
        self.assertEqual(self.listing(forms["header length 0xFFFFFFFF"]), "")
        self.assertTrue(kelpa("list", win(self.path("missing.ilds")), win(self.path("missing.txt"))))
        self.assertEqual(os.path.getsize(self.path("missing.txt")), 0)

    def test_hundred_thousand_entries_listed_exactly(self):
        blob = ilds.header(False) + b"".join(b"\x06f%05d" % i + struct.pack("<I", 0) for i in range(100000))
        started = time.monotonic()
        listing = self.listing(blob)
        self.assertLess(time.monotonic() - started, 120)
        self.assertEqual(listing, "".join("f%05d;0\r\n" % i for i in range(100000)))

    def test_hostile_archives_change_nothing_outside(self):
        target = self.path("t1/t2")
        os.makedirs(target)
        with open(os.path.join(target, "keep.txt"), "wb") as f:
            f.write(b"old")
        hello = zlib.compress(b"hello")
        names = [b"..\\..\\probe1", b"../probe2", b"C:\\probe3", b"\\probe4", b"con.txt", b"a.txt:stream",
                 b"sub\\..\\..\\probe5", b"probe6."]
        archives = [
            ilds.header() + b"".join(ilds.entry(n, b"evil") for n in names),
            ilds.header() + ilds.entry(b"keep.txt", b"", payload=hello[:-1] + bytes([hello[-1] ^ 1])),  # bad Adler-32
            ilds.header(False) + ilds.entry(b"keep.txt", b"", payload=b"short", length=1000, compressed=False),
            ilds.header() + ilds.entry(b"keep.txt", b"", payload=hello, length=0xFFFFFFFF),
            ilds.header(length=0xFFFFFFFF) + ilds.entry(b"keep.txt", b"x"),
        ]
        before = (snapshot(self.work, target), sorted(os.listdir(os.path.join(ENV["WINEPREFIX"], "drive_c"))))
        for index, blob in enumerate(archives):
            archive = self.write("hostile%d.ilds" % index, blob)
            before = (snapshot(self.work, target), before[1])
            self.assertFalse(kelpa("restore", archive, win(target)), index)
            self.assertFalse(kelpa("restoreex", archive, win(target), "1", "", "0"), index)
            self.assertEqual((snapshot(self.work, target),
                              sorted(os.listdir(os.path.join(ENV["WINEPREFIX"], "drive_c")))), before, index)
        self.assertEqual(snapshot(target), {"keep.txt": hashlib.sha256(b"old").hexdigest()})


if __name__ == "__main__":
    unittest.main(verbosity=2)
