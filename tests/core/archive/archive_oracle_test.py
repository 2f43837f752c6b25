"""Archives both ways between the library (ilds_tool.exe under Wine) and the
independent reader and writer tests/support/ilds.py.

    archive_oracle_test.py path/to/ilds_tool.exe
"""
import hashlib
import os
import random
import shutil
import subprocess
import sys
import tempfile
import unittest
import zlib

SOURCE = os.environ.get("VM_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import ilds  # noqa: E402

TOOL = os.path.abspath(sys.argv.pop(1))
WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run.sh")


def tool(*args):
    """Runs ilds_tool; answers (its boolean, its output). Output goes through
    a file: a wineserver started by the run keeps inherited pipes open."""
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([WINE_RUN, TOOL, *args], stdout=out, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, timeout=600).returncode
        out.seek(0)
        text = out.read().decode("latin-1")
    assert code in (0, 1), text
    return code == 0, text


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


ACP = int(tool("acp")[1])
CODEC = "utf-8" if ACP == 65001 else "cp%d" % ACP


def encodable(name):
    try:
        name.encode(CODEC)
        return True
    except UnicodeEncodeError:
        return False


def make_tree(root, files):
    for name, data in files.items():
        path = os.path.join(root, *name.split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def snapshot(root, skip=None):
    """Every file below root but those below skip: relative name -> SHA-256."""
    result = {}
    for folder, subfolders, names in os.walk(root):
        subfolders[:] = [s for s in subfolders if os.path.join(folder, s) != skip]
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                result[os.path.relpath(path, root).replace(os.sep, "/")] = hashlib.sha256(f.read()).hexdigest()
    return result


def hashes(files):
    return {name: hashlib.sha256(data).hexdigest() for name, data in files.items()}


def arc_name(name):
    return name.replace("/", "\\").encode(CODEC)


def read_archive(path):
    """(compressed, entries name -> stored bytes, raw header bytes, whole)."""
    with open(path, "rb") as f:
        blob = f.read()
    compressed, _, entries, whole = ilds.read(blob)
    names = {n.decode(CODEC).replace("\\", "/"): stored for n, _, stored in entries}
    assert len(names) == len(entries), "duplicate entries"
    return compressed, names, blob[:13], whole


def text(lines):
    return "".join("line %d: the quick brown fox %d\r\n" % (i, i * 7919 % 1013) for i in range(lines)).encode()


RNG = random.Random(2024)
TREE = {
    "top.txt": text(2000),
    "empty.cfg": b"",
    "sub/one": b"1",
    "sub/edge-65535": bytes(65535),
    "sub/edge-65536": RNG.randbytes(65536),
    "sub/edge-65537": text(3000)[:65537],
    "sub/big.dat": text(40000)[:1 << 20] + RNG.randbytes(1 << 20) + bytes(1 << 20),
    "sub/inner/deep/leaf.bin": RNG.randbytes(70000),
}
for extra in ("café.txt", "naïve/Ümlaut €.dat", "ñ/ß.cfg"):
    if encodable(extra):
        TREE[extra] = extra.encode("utf-8") * 3
FILES = [(arc_name(n), d) for n, d in TREE.items()]


class Oracle(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="ilds-oracle-")
        self.tree = os.path.join(self.work, "tree")
        make_tree(self.tree, TREE)

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, blob):
        with open(self.path(name), "wb") as f:
            f.write(blob)
        return self.path(name)

    def restore(self, archive, folder, *options):
        ok, _ = tool("unpack", win(archive), win(self.path(folder)), *options)
        return ok, snapshot(self.path(folder))

    def test_our_archives_read_by_python(self):
        for compress in (True, False):
            archive = self.path("ours-%d.ilds" % compress)
            ok, _ = tool("pack", win(archive), win(self.tree), *([] if compress else ["raw"]))
            self.assertTrue(ok)
            flag, entries, head, whole = read_archive(archive)
            self.assertTrue(whole)
            self.assertEqual(head, b"ILDS\x05\x00\x00\x00" + bytes([compress]) + b"\x02\x00\x00\x00")
            self.assertEqual(sorted(entries), sorted(TREE))
            for name, stored in entries.items():
                expected = zlib.compress(TREE[name]) if compress else TREE[name]
                self.assertEqual(stored, expected, name)

    def test_python_archives_restored(self):
        junk = RNG.randbytes(1000)
        appended = ilds.archive(FILES[:3]) + b"".join(ilds.entry(n, d) for n, d in FILES[3:])
        variants = {
            "v2 compressed": (ilds.archive(FILES), 0),
            "v2 raw": (ilds.archive(FILES, compressed=False), 0),
            "v1 compressed": (ilds.archive(FILES, version=1), 0),
            "v1 raw": (ilds.archive(FILES, compressed=False, version=1), 0),
            "header-less": (ilds.archive(FILES, headerless=True), 0),
            "header length 3": (ilds.archive(FILES, length=3), 0),
            "header length 9": (ilds.archive(FILES, length=9, pad=b"\xff\xff\xff\xff"), 0),
            "appended entries": (appended, 0),
            "junk before an offset": (junk + ilds.archive(FILES), len(junk)),
            "junk before a header-less archive": (junk + ilds.archive(FILES, headerless=True), len(junk)),
        }
        for index, (what, (blob, offset)) in enumerate(variants.items()):
            archive = self.write("py%d.ilds" % index, blob)
            ok, restored = self.restore(archive, "out%d" % index, "offset=%d" % offset)
            self.assertTrue(ok, what)
            self.assertEqual(restored, hashes(TREE), what)
        # An empty file stored as L = 0 or as the 8-byte empty stream.
        blob = ilds.header() + ilds.entry(b"e0", b"", payload=b"") + ilds.entry(b"e8", b"")
        ok, restored = self.restore(self.write("empty.ilds", blob), "empty")
        self.assertTrue(ok)
        self.assertEqual(restored, hashes({"e0": b"", "e8": b""}))

    def test_skip_list_prefix_and_flat_walk(self):
        files = {"Skip.me": b"1", "sub/SKIP.ME": b"2", "sub/keep.txt": b"3", "Other.TXT": b"4", "skip.me/x": b"5"}
        make_tree(self.path("skip"), files)
        archive = self.path("skip.ilds")
        self.assertTrue(tool("pack", win(archive), win(self.path("skip")), "skip=skip.me;OTHER.txt")[0])
        self.assertEqual(sorted(read_archive(archive)[1]), ["skip.me/x", "sub/keep.txt"])
        self.assertTrue(tool("pack", win(archive), win(self.path("skip")), "flat", "prefix=pre\\")[0])
        self.assertEqual(sorted(read_archive(archive)[1]), ["pre/Other.TXT", "pre/Skip.me"])
        self.assertTrue(tool("pack", win(archive), win(self.path("skip/sub/keep.txt")), "prefix=p\\")[0])
        self.assertEqual(list(read_archive(archive)[1]), ["p/keep.txt"])

    def test_keep_list_and_overwrite(self):
        new = {"a.cfg": b"new a", "b.cfg": b"new b", "c.cfg": b"new c", "d.cfg": b"new d"}
        old = {"a.cfg": b"old a", "b.cfg": b"old b", "c.cfg": b"old c"}
        archive = self.write("keep.ilds", ilds.archive([(n.encode(), d) for n, d in new.items()]))
        cases = [
            ([], "keep", {**old, "d.cfg": new["d.cfg"]}),
            (["keeplist=a.cfg;B.cfg"], "keep", {**new, "a.cfg": old["a.cfg"], "b.cfg": old["b.cfg"]}),
            ([], None, new),
        ]
        for index, (options, keep, expected) in enumerate(cases):
            folder = "keep%d" % index
            make_tree(self.path(folder), old)
            ok, restored = self.restore(archive, folder, *options, *([keep] if keep else []))
            self.assertTrue(ok, options)
            self.assertEqual(restored, hashes(expected), options)

    def test_append(self):
        part = {"x.txt": b"x" * 5000, "y.txt": b""}
        make_tree(self.path("part"), part)
        # A missing archive: false, nothing created.
        missing = self.path("missing.ilds")
        self.assertFalse(tool("pack", win(missing), win(self.path("part")), "append")[0])
        self.assertFalse(os.path.exists(missing))
        # A raw archive takes raw entries although compression was asked for.
        raw = self.write("raw.ilds", ilds.archive(FILES[:2], compressed=False))
        self.assertTrue(tool("pack", win(raw), win(self.path("part")), "append")[0])
        flag, entries, _, whole = read_archive(raw)
        self.assertTrue(whole and not flag)
        self.assertEqual(entries["x.txt"], part["x.txt"])
        # An empty file gets a header first.
        empty = self.write("empty.ilds", b"")
        self.assertTrue(tool("pack", win(empty), win(self.path("part")), "append")[0])
        flag, entries, _, whole = read_archive(empty)
        self.assertTrue(whole and flag and entries["x.txt"] == zlib.compress(part["x.txt"]))
        # Archives that cannot take entries stay as they were.
        for what, blob in {
            "version 1": ilds.archive(FILES[:2], version=1),
            "header-less": ilds.archive(FILES[:2], headerless=True),
            "cut short": ilds.archive(FILES[:2])[:-3],
        }.items():
            archive = self.write("bad.ilds", blob)
            self.assertFalse(tool("pack", win(archive), win(self.path("part")), "append")[0], what)
            with open(archive, "rb") as f:
                self.assertEqual(f.read(), blob, what)
        # A missing source creates and replaces nothing.
        self.assertFalse(tool("pack", win(missing), win(self.path("nothing")))[0])
        self.assertFalse(os.path.exists(missing))
        self.assertFalse(tool("pack", win(raw), win(self.path("nothing")))[0])
        self.assertEqual(read_archive(raw)[1]["x.txt"], part["x.txt"])

    def test_archive_inside_the_packed_folder(self):
        archive = os.path.join(self.tree, "self.ilds")
        listings = []
        for _ in range(2):
            self.assertTrue(tool("pack", win(archive), win(self.tree))[0])
            listings.append(sorted(read_archive(archive)[1]))
        self.assertEqual(listings, [sorted(TREE)] * 2)
        self.assertEqual(sorted(os.listdir(self.tree)), sorted(set(n.split("/")[0] for n in TREE) | {"self.ilds"}))

    def test_files_that_cannot_be_packed_are_left_out(self):
        files = {"ok.txt": b"1", "d" * 200 + "/" + "f" * 100: b"name over 255 bytes"}
        if ACP != 65001:
            files.update({"\u65e5\u672c.txt": b"2", "\u0141\u00f3d\u017a.txt": b"3"})
        make_tree(self.path("names"), files)
        with open(os.path.join(self.path("names"), "2GB.bin"), "wb") as f:
            f.truncate(1 << 31)  # sparse
        archive = self.path("names.ilds")
        for options in ([], ["raw"]):
            self.assertFalse(tool("pack", win(archive), win(self.path("names")), *options)[0])
            self.assertEqual(list(read_archive(archive)[1]), ["ok.txt"])

    def test_hostile_archives(self):
        target = os.path.join("w1", "w2", "w3")
        base = len(win(self.path(target))) + 1
        refused = [b"a\\", b"a\\\\b", b"..\\..\\..\\probe1", b"sub\\..\\..\\..\\..\\probe2", b"...\\probe3",
                   b". .\\probe4", b"probe5.", b"probe6 ", b"\\probe7", b"\\\\?\\C:\\probe8", b"\\\\localhost\\c$\\p9",
                   b"C:probe10", b"C:\\probe11", b"a.txt:stream", b"ctl\x01x", b"a*b", b"a?b", b'a"b', b"a<b", b"a>b",
                   b"a|b", b"CON", b"con.txt", b"sub\\AUX.log", b"nul", b"COM1.x", b"lpt9", b"CONIN$", b"conout$",
                   b"../../../probe12", b"/probe13", b"x" * 100 + b"\\" + b"y" * (259 - base - 100)]
        fits = b"x" * 100 + b"\\" + b"z" * (258 - base - 100)  # joined: exactly 259 characters
        existing = {"keep1.txt": b"old 1", "keep2.txt": b"old 2", "keep3.txt": b"old 3"}
        hello = zlib.compress(b"hello")
        bomb = zlib.compress(bytes(100 << 20), 1)
        archives = [
            ilds.header() + b"".join(ilds.entry(n, b"evil") for n in refused)
            + ilds.entry(b"keep1.txt", b"", payload=hello[:-1] + bytes([hello[-1] ^ 1]))
            + ilds.entry(b"keep2.txt", b"", payload=hello[:-4])
            + ilds.entry(b"bomb.bin", b"", payload=bomb)
            + ilds.entry(fits, b"fits") + ilds.entry(b"good.txt", b"good"),
            ilds.header(False) + ilds.entry(b"good2.txt", b"good", False)
            + ilds.entry(b"keep3.txt", b"", payload=b"short", length=1000),
            ilds.header() + ilds.entry(b"keep1.txt", b"", payload=hello, length=0xFFFFFFFF),
            ilds.header(length=0xFFFFFFFF) + ilds.entry(b"keep1.txt", b"x"),
            RNG.randbytes(4000),  # junk read as the old form
        ]
        expected = {**existing, "good.txt": b"good", "good2.txt": b"good", fits.decode().replace("\\", "/"): b"fits"}
        make_tree(self.path(target), existing)
        paths = [self.write("hostile%d.ilds" % i, blob) for i, blob in enumerate(archives)]
        prefix = subprocess.run(["bash", "-c", 'source "$0/scripts/wine-env.sh"; vm_wine_env "$(vm_pe_bits "$1")";'
                                 ' echo "$WINEPREFIX"', SOURCE, TOOL], capture_output=True, text=True).stdout.strip()

        def outside():
            work = snapshot(self.work, skip=self.path(target))
            return sorted(os.listdir(os.path.join(prefix, "drive_c"))), sorted(os.listdir("/")), work

        before = outside()
        for index, archive in enumerate(paths):
            self.assertFalse(self.restore(archive, target)[0], index)
        self.assertEqual(outside(), before)
        restored = snapshot(self.path(target))
        self.assertEqual(restored.pop("bomb.bin"), hashlib.sha256(bytes(100 << 20)).hexdigest())
        self.assertEqual(restored, hashes(expected))


if __name__ == "__main__":
    unittest.main(verbosity=2)
