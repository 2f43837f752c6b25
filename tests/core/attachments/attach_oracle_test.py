"""The extraction (attach_tool.exe under Wine) on the seeded corpus of
tests/support/attach_corpus.py against two independent readers of the
same messages, comparing file contents by SHA-256 (each tool names files
its own way):
- Python's email package: every named base64 and x-uuencode part is
  get_payload(decode=True);
- ripmime: every quoted-printable and 7bit part of a name used once in its
  message, and every inline uuencoded block, is the file ripmime writes;
and the objects carry the names get_filename() gives (RFC 2231 forms too).
Each message is extracted from its ".tmp" and its ".imap" form: both give the
same files, as many as the message has named parts, unnamed HTML parts and
uuencoded blocks.
    attach_oracle_test.py path/to/attach_tool.exe
"""
import collections
import email
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

SOURCE = Path(os.environ.get("VM_SOURCE_DIR", Path(__file__).resolve().parents[3]))
sys.path.insert(0, str(SOURCE / "tests" / "support"))
import attach_corpus  # noqa: E402

TOOL = os.path.abspath(sys.argv.pop(1))
BEGIN = re.compile(rb"^begin [0-7]{3} \S", re.M)


def sha(data):
    return hashlib.sha256(data).hexdigest()


def windows(path):
    return "Z:" + str(path).replace("/", "\\")


def host(path):
    assert path.startswith("Z:"), path
    return Path(path[2:].replace("\\", "/"))


def leaves(message):
    """Every leaf part."""
    if message.is_multipart():
        for part in message.get_payload():
            yield from leaves(part)
    else:
        yield message


def files_of(tool, folder, eml, *args):
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    subprocess.run([tool, *args], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120, check=False)
    return {f.name: f.read_bytes() for f in folder.iterdir() if f.is_file()}


class AttachmentOracleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = Path(tempfile.mkdtemp(prefix="attach-oracle-"))
        cls.messages = attach_corpus.generate(cls.work / "corpus")
        jobs = []
        for stem in cls.messages:
            for form in (".tmp", ".imap"):
                folder = cls.work / "out" / (stem.name + form[1:])
                jobs.append("%s\t%s\\\t-1\t0\t0" % (windows(stem.with_suffix(form)), windows(folder)))
        listing = cls.work / "list.txt"
        listing.write_text("\n".join(jobs) + "\n")
        result = cls.work / "objects.txt"
        # Output through files: a wineserver started by the run keeps pipes open.
        with tempfile.TemporaryFile() as log:
            code = subprocess.run([str(SOURCE / "scripts" / "wine-run.sh"), TOOL, windows(listing), windows(result)],
                                  stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                  timeout=1200).returncode
            log.seek(0)
            assert code == 0, log.read().decode("latin-1")
        cls.objects = collections.defaultdict(list)
        for line in result.read_bytes().decode("latin-1").splitlines():
            number, generated, size, name, path = line.split("\t")
            cls.objects[int(number)].append((generated == "1", int(size), name, host(path)))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_corpus(self):
        checked = collections.Counter()
        for index, stem in enumerate(self.messages):
            with self.subTest(message=stem.name):
                self.check(index, stem, checked)
        # The corpus holds every kind the oracles speak for.
        for kind in ("python", "ripmime", "inline", "html", "xuu", "big", "extended"):
            self.assertGreater(checked[kind], 0, kind)

    def check(self, index, stem, checked):
        text = stem.with_suffix(".eml").read_bytes()
        message = email.message_from_bytes(text)
        forms = []
        for form in (0, 1):
            found = self.objects.get(2 * index + form, [])
            contents = []
            for generated, size, name, path in found:
                data = path.read_bytes()
                self.assertEqual(size, len(data), path)
                contents.append(sha(data))
            forms.append((collections.Counter(contents), [name if not generated or not name else "*" for
                                                          generated, _, name, _ in found]))
        ours, names = forms[0]
        self.assertEqual(forms[1], forms[0], "the .tmp and .imap forms differ")

        ripmime = files_of("ripmime", self.work / "ripmime", None, "-i", str(stem.with_suffix(".eml")), "-d",
                           str(self.work / "ripmime"), "--no-nameless")
        ripmime_shas = {sha(data) for data in ripmime.values()}

        parts = list(leaves(message))
        used = collections.Counter((part.get_filename() or "").lower() for part in parts)
        expected = 0
        for part in parts:
            name = part.get_filename()
            encoding = (part.get("Content-Transfer-Encoding") or "7bit").lower()
            raw = part.get_payload(decode=False)
            expected += len(BEGIN.findall(raw.encode("latin-1") if isinstance(raw, str) else b""))
            if not name:
                if part.get_content_type() == "text/html":
                    expected += 1
                    checked["html"] += 1
                continue
            expected += 1
            payload = part.get_payload(decode=True)
            if encoding in ("base64", "x-uuencode"):
                self.assertIn(sha(payload), ours, "%s (%s) differs from Python's bytes" % (name, encoding))
                checked["python"] += 1
                checked["xuu"] += encoding == "x-uuencode"
                checked["big"] += len(payload) >= 100 * 1024
            elif used[name.lower()] == 1:
                # Text parts end with the line break before their delimiter.
                theirs = ripmime_shas & {sha(payload), sha(payload + b"\r\n")}
                self.assertTrue(theirs, "ripmime wrote no file like " + name)
                self.assertTrue(theirs & set(ours), "%s (%s) differs from ripmime's file" % (name, encoding))
                checked["ripmime"] += 1
        declared = sorted(part.get_filename() for part in parts if part.get_filename())
        self.assertEqual(sorted(n for n in names if n and n != "*"), declared)
        checked["extended"] += any("*=" in str(part.get("Content-Disposition")) for part in parts)
        for name, data in ripmime.items():
            if name.startswith("inl"):
                self.assertIn(sha(data), ours, "inline uuencoded " + name)
                checked["inline"] += 1
        self.assertEqual(sum(ours.values()), expected, names)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=1)
