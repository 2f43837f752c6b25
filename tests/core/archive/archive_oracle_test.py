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


def tool(*args):
    """ilds_tool's answer (and output). Output goes through a file: a
    wineserver started by the run would keep a pipe open."""
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([os.path.join(SOURCE, "scripts", "wine-run.sh"), TOOL, *args], stdout=out,
                              stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=600).returncode
        out.seek(0)
        text = out.read().decode("latin-1")
    assert code in (0, 1), text
    return code == 0, text


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


ACP = int(tool("acp")[1])
CODEC = "utf-8" if ACP == 65001 else "cp%d" % ACP


def make_tree(root, files):
    for name, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(root, name)), exist_ok=True)
        with open(os.path.join(root, name), "wb") as f:
            f.write(data)


def snapshot(root, skip=None):
    """Every file below root but those below skip: relative name -> SHA-256."""
    result = {}
    for folder, subfolders, names in os.walk(root):
        subfolders[:] = [s for s in subfolders if os.path.join(folder, s) != skip]
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                result[os.path.relpath(f.name, root).replace(os.sep, "/")] = hashlib.sha256(f.read()).hexdigest()
    return result


def hashes(files):
    return {name: hashlib.sha256(data).hexdigest() for name, data in files.items()}


def read_archive(path):
    """(compressed, name -> stored bytes, first 13 bytes, whole)."""
    with open(path, "rb") as f:
        blob = f.read()
    compressed, _, entries, whole = ilds.read(blob)
    return compressed, {n.decode(CODEC).replace("\\", "/"): s for n, _, s in entries}, blob[:13], whole


def text(lines):
    return "".join("line %d: the quick brown fox %d\r\n" % (i, i * 7919 % 1013) for i in range(lines)).encode()


RNG = random.Random(2024)
TREE = {"top.txt": text(2000), "empty.cfg": b"", "sub/one": b"1", "sub/edge-65535": bytes(65535),
        "sub/edge-65536": RNG.randbytes(65536), "sub/edge-65537": text(3000)[:65537],
        "sub/big.dat": text(40000)[:1 << 20] + RNG.randbytes(1 << 20) + bytes(1 << 20),
        "sub/inner/deep/leaf.bin": RNG.randbytes(70000)}
for extra in ("café.txt", "naïve/Ümlaut €.dat", "ñ/ß.cfg"):  # names in the code page, where it has them
    if extra.encode(CODEC, "replace").decode(CODEC) == extra:
        TREE[extra] = extra.encode("utf-8") * 3
FILES = [(n.replace("/", "\\").encode(CODEC), d) for n, d in TREE.items()]


class Oracle(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="ilds-oracle-")
        self.tree = self.path("tree")
        make_tree(self.tree, TREE)

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.work, name)

    def write(self, name, blob):
        with open(self.path(name), "wb") as f:
            f.write(blob)
        return self.path(name)

    def pack(self, archive, source, *options):
        return tool("pack", win(self.path(archive)), win(self.path(source)), *options)[0]

    def restore(self, archive, folder, *options):
        return tool("unpack", win(archive), win(self.path(folder)), *options)[0], snapshot(self.path(folder))

    def test_our_archives_read_by_python(self):
        for compress in (True, False):
            self.assertTrue(self.pack("ours.ilds", "tree", *([] if compress else ["raw"])))
            flag, entries, head, whole = read_archive(self.path("ours.ilds"))
            self.assertTrue(whole)
            self.assertEqual(head, b"ILDS\x05\x00\x00\x00" + bytes([compress]) + b"\x02\x00\x00\x00")
            self.assertEqual(entries, {n: zlib.compress(d) if compress else d for n, d in TREE.items()})

    def test_python_archives_restored(self):
        junk = RNG.randbytes(1000)
        variants = {
            "v2 compressed": (ilds.archive(FILES), 0),
            "v2 raw": (ilds.archive(FILES, compressed=False), 0),
            "v1 compressed": (ilds.archive(FILES, version=1), 0),
            "v1 raw": (ilds.archive(FILES, compressed=False, version=1), 0),
            "header length 0": (ilds.archive(FILES, compressed=False, version=0, length=0), 0),
            "header-less": (ilds.archive(FILES, headerless=True), 0),
            "header length 3": (ilds.archive(FILES, length=3), 0),
            "header length 9": (ilds.archive(FILES, length=9, pad=b"\xff\xff\xff\xff"), 0),
            "appended entries": (ilds.archive(FILES[:3]) + b"".join(ilds.entry(n, d) for n, d in FILES[3:]), 0),
            "junk before an offset": (junk + ilds.archive(FILES), len(junk)),
            "junk before a header-less archive": (junk + ilds.archive(FILES, headerless=True), len(junk)),
        }
        for index, (what, (blob, offset)) in enumerate(variants.items()):
            archive = self.write("py%d.ilds" % index, blob)
            self.assertEqual(self.restore(archive, "out%d" % index, "offset=%d" % offset), (True, hashes(TREE)), what)
        # An empty file stored as L = 0 or as the 8-byte empty stream; bytes after a
        # stream's end ignored; an empty trimmed name ends the archive.
        blob = ilds.header() + ilds.entry(b"e0", b"", payload=b"") + ilds.entry(b"e8", b"") + ilds.entry(
            b"t", b"", payload=zlib.compress(b"t") + b"tail") + ilds.entry(b" \t", b"") + ilds.entry(b"after", b"")
        expected = hashes({"e0": b"", "e8": b"", "t": b"t"})
        self.assertEqual(self.restore(self.write("e.ilds", blob), "e"), (True, expected))

    def test_skip_list_prefix_and_flat_walk(self):
        make_tree(self.path("s"), {"Skip.me": b"1", "sub/SKIP.ME": b"", "sub/k": b"", "O.TXT": b"", "skip.me/x": b""})
        for options, names in (
                (["skip=skip.me;o.txt"], ["skip.me/x", "sub/k"]),  # file names in every folder, never folders
                (["flat", "prefix=pre\\"], ["pre/O.TXT", "pre/Skip.me"])):
            self.assertTrue(self.pack("s.ilds", "s", *options))
            self.assertEqual(sorted(read_archive(self.path("s.ilds"))[1]), names)
        self.assertTrue(self.pack("s.ilds", "s/sub/k", "prefix=p\\"))
        self.assertEqual(list(read_archive(self.path("s.ilds"))[1]), ["p/k"])

    def test_keep_list_and_overwrite(self):
        new = {"a.cfg": b"new a", "b.cfg": b"new b", "c.cfg": b"new c", "d.cfg": b"new d"}
        old = {"a.cfg": b"old a", "b.cfg": b"old b", "c.cfg": b"old c"}
        archive = self.write("keep.ilds", ilds.archive([(n.encode(), d) for n, d in new.items()]))
        for index, (options, expected) in enumerate((
                (["keep"], {**old, "d.cfg": new["d.cfg"]}),
                (["keep", "keeplist=a.cfg;B.cfg"], {**new, "a.cfg": old["a.cfg"], "b.cfg": old["b.cfg"]}),
                ([], new))):
            make_tree(self.path("k%d" % index), old)
            self.assertEqual(self.restore(archive, "k%d" % index, *options), (True, hashes(expected)), options)

    def test_append(self):
        part = {"x.txt": b"x" * 5000, "y.txt": b""}
        make_tree(self.path("part"), part)
        self.assertFalse(self.pack("missing.ilds", "part", "append"))
        self.assertFalse(self.pack("missing.ilds", "nothing"))
        self.assertFalse(os.path.exists(self.path("missing.ilds")))
        # Appended entries take the archive's flag; an empty file gets a header first.
        for blob, compressed in ((ilds.archive(FILES[:2], compressed=False), False), (b"", True)):
            self.write("a.ilds", blob)
            self.assertTrue(self.pack("a.ilds", "part", "append"))
            flag, entries, _, whole = read_archive(self.path("a.ilds"))
            self.assertTrue(whole and flag == compressed)
            self.assertEqual(entries["x.txt"], zlib.compress(part["x.txt"]) if compressed else part["x.txt"])
        # Archives that cannot take entries and a missing source leave the archive as it was.
        for blob, source in ((ilds.archive(FILES[:2], version=1), "part"), (ilds.archive(FILES[:2])[:-3], "part"),
                             (ilds.archive(FILES[:2], headerless=True), "part"), (ilds.archive(FILES[:2]), "nothing")):
            self.write("b.ilds", blob)
            self.assertFalse(self.pack("b.ilds", source, "append"))
            self.assertFalse(source == "nothing" and self.pack("b.ilds", source))
            with open(self.path("b.ilds"), "rb") as f:
                self.assertEqual(f.read(), blob)

    def test_archive_inside_the_packed_folder(self):
        for _ in range(2):
            self.assertTrue(self.pack("tree/self.ilds", "tree"))
            self.assertEqual(sorted(read_archive(self.path("tree/self.ilds"))[1]), sorted(TREE))
        self.assertEqual(set(os.listdir(self.tree)), {n.split("/")[0] for n in TREE} | {"self.ilds"})

    def test_files_that_cannot_be_packed_are_left_out(self):
        files = {"ok.txt": b"1", "d" * 200 + "/" + "f" * 100: b"name over 255 bytes"}
        if ACP != 65001:
            files.update({"\u65e5\u672c.txt": b"2", "\u0141\u00f3d\u017a.txt": b"3"})  # no exact form
        make_tree(self.path("n"), files)
        with open(self.path("n/2GB.bin"), "wb") as f:
            f.truncate(1 << 31)
        for options in ([], ["raw"]):
            self.assertFalse(self.pack("n.ilds", "n", *options))
            self.assertEqual(list(read_archive(self.path("n.ilds"))[1]), ["ok.txt"])

    def test_hostile_archives(self):
        target = self.path("w1/w2/w3")
        base = len(win(target)) + 1
        refused = [b"..\\..\\..\\probe1", b"../../../probe2", b"a\\", b"probe3.", b"probe4 ", b"\\probe5", b"C:probe6",
                   b"C:\\probe7", b"\\\\?\\C:\\probe8", b"\\\\localhost\\c$\\p9", b"a.txt:stream", b"ctl\x01x", b"a*b",
                   b"con.txt", b"sub\\AUX.log", b"CONIN$", b"a\\\\b", b"...\\probe10", b". .\\probe11",
                   b"x" * 100 + b"\\" + b"y" * (159 - base)]  # joined: 260 characters
        fits = b"x" * 100 + b"\\" + b"z" * (158 - base)  # 259
        existing = {"keep1.txt": b"old 1", "keep2.txt": b"old 2", "keep3.txt": b"old 3"}
        hello = zlib.compress(b"hello")
        archives = [
            ilds.header() + b"".join(ilds.entry(n, b"evil") for n in refused)
            + ilds.entry(b"keep1.txt", b"", payload=hello[:-1] + bytes([hello[-1] ^ 1]))  # bad Adler-32
            + ilds.entry(b"keep2.txt", b"", payload=hello[:-4])  # no end within L
            + ilds.entry(b"bomb.bin", bytes(100 << 20)) + ilds.entry(fits, b"fits") + ilds.entry(b"good.txt", b"good"),
            ilds.header(False) + ilds.entry(b"good2.txt", b"good", False)
            + ilds.entry(b"keep3.txt", b"", payload=b"short", length=1000),
            ilds.header() + ilds.entry(b"keep1.txt", b"", payload=hello, length=0xFFFFFFFF),
            ilds.header(length=0xFFFFFFFF) + ilds.entry(b"keep1.txt", b"x"),
            ilds.header() + ilds.entry(b"good3.txt", b"good") + b"\x05ab",  # ends inside an entry head
            RNG.randbytes(4000),  # junk read as the old form
        ]
        make_tree(target, existing)
        paths = [self.write("hostile%d.ilds" % i, blob) for i, blob in enumerate(archives)]
        prefix = subprocess.run(["bash", "-c", 'source "$0/scripts/wine-env.sh"; vm_wine_env "$(vm_pe_bits "$1")";'
                                 ' echo "$WINEPREFIX"', SOURCE, TOOL], capture_output=True, text=True).stdout.strip()

        def outside():
            drive_c = sorted(os.listdir(os.path.join(prefix, "drive_c")))
            return drive_c, sorted(os.listdir("/")), snapshot(self.work, target)

        before = outside()
        for index, archive in enumerate(paths):
            self.assertFalse(tool("unpack", win(archive), win(target))[0], index)
        self.assertEqual(outside(), before)
        expected = {**existing, "good.txt": b"good", "good2.txt": b"good", "good3.txt": b"good",
                    "bomb.bin": bytes(100 << 20), fits.decode().replace("\\", "/"): b"fits"}
        self.assertEqual(snapshot(target), hashes(expected))


if __name__ == "__main__":
    unittest.main(verbosity=2)
