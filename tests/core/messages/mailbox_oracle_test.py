"""The mailbox conversion (mailbox_tool.exe under Wine) against Python's own
SMTP pieces and zipfile: a ".tmp" file sent as DATA through smtplib arrives
at an aiosmtpd peer as our ".imap" text; smtplib.quotedata of an ".imap"
text plus the end mark is our ".tmp" file; the header and the name carry
zipfile's DOS words for the file's modification time.
    mailbox_oracle_test.py path/to/mailbox_tool.exe
"""
import io
import os
import random
import shutil
import smtplib
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

SOURCE = os.environ.get("VM_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..", ".."))
TOOL = os.path.abspath(sys.argv.pop(1))
END = b"\r\n.\r\n"


def convert(*pairs):
    """mailbox_tool over (folder, direction) pairs; output through a file,
    since a wineserver started by the run would keep a pipe open."""
    args = [a for folder, direction in pairs for a in ("Z:" + folder.replace("/", "\\"), direction)]
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([os.path.join(SOURCE, "scripts", "wine-run.sh"), TOOL, *args], stdout=out,
                              stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=600).returncode
        out.seek(0)
        assert code == 0, out.read().decode("latin-1")


def stuffed(body):
    return smtplib.quotedata(body.decode("latin-1")).encode("latin-1") + END


def zip_header(path):
    """The header's 24 characters from the DOS words zipfile writes for the file."""
    data = io.BytesIO()
    with zipfile.ZipFile(data, "w") as archive:
        archive.writestr(zipfile.ZipInfo.from_file(path, "x", strict_timestamps=False), b"")
    dostime, dosdate = struct.unpack("<HH", data.getvalue()[10:14])
    return "0" * 16 + "%04X%04X" % (dosdate, dostime)


def filler(size):
    """size bytes of short CRLF lines without dots."""
    count = (size - 2) // 50
    return b"y" * (size - 50 * count - 2) + b"\r\n" + (b"x" * 48 + b"\r\n") * count


def bodies():
    rng = random.Random(14)
    pieces = [b".", b"..", b".x", b"", b"text", b"x.", b"\xe9t\xe9 8-bit", b"a" * 900]
    result = [b"", b".", b"x\r\n", b"Subject: dots\r\n\r\n.\r\n..\r\n.x"]
    result += [b"\r\n".join(rng.choice(pieces) for _ in range(rng.randint(1, 3000))) for _ in range(10)]
    # Dot lines and end marks on the 64 KB edges of the reads.
    return result + [filler(65536 + k) + b".\r\n..\r\n.x" for k in range(-3, 4)] + \
        [filler(65531 + k) + b"e" for k in range(-3, 4)]


def write(path, data, stamp=None):
    with open(path, "wb") as f:
        f.write(data)
    if stamp:
        os.utime(path, (stamp, stamp))


def read_all(folder, extension):
    result = {}
    for name in os.listdir(folder):
        if name.endswith(extension):
            with open(os.path.join(folder, name), "rb") as f:
                result[name] = f.read()
    return result


class Conversion(unittest.TestCase):
    def test_both_ways_against_smtp_and_zipfile(self):
        work = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, work)
        box_a, box_b, inbox_b = os.path.join(work, "a"), os.path.join(work, "b"), os.path.join(work, "b", "inbox")
        os.makedirs(box_a)
        os.makedirs(inbox_b)
        rng = random.Random(5)
        local = lambda *fields: time.mktime(fields + (0, 0, -1))  # noqa: E731
        texts = bodies()
        for i, body in enumerate(texts):
            stamp = local(*[rng.randint(*r) for r in ((1981, 2106), (1, 12), (1, 28), (0, 23), (0, 59), (0, 59))])
            write(os.path.join(box_a, "m%02d.tmp" % i), stuffed(body),
                  {0: local(2003, 1, 5, 9, 4, 7), 1: local(1975, 6, 1, 12, 0, 0)}.get(i, stamp))
            write(os.path.join(inbox_b, "m%02d-%s.imap" % (i, "0" * 24)), b"0" * 24 + b"\r\n" + body)
        # Clashing sources (one target name each way), a name "*.tmp" lists
        # but that is no ".tmp" file, and sources whose reads fail.
        for name, body in (("a-1.tmp", b"first"), ("a-2.tmp", b"second"), ("x.tmpl", b"no")):
            write(os.path.join(box_a, name), body + END, local(2003, 1, 5, 9, 4, 7))
        for stamp, body in (("AAAAAAAA", b"first"), ("BBBBBBBB", b"second")):
            write(os.path.join(inbox_b, "c-%s%s.imap" % ("0" * 16, stamp)), b"0" * 24 + b"\r\n" + body)
        os.symlink("/proc/self/mem", os.path.join(box_a, "bad.tmp"))
        os.symlink("/proc/self/mem", os.path.join(inbox_b, "bad-%s.imap" % ("0" * 24)))

        convert((box_a, "to-imap"), (box_b, "from-imap"))

        self.assertEqual(zip_header(os.path.join(box_a, "m00.tmp"))[16:], "2E254883")
        self.assertEqual(zip_header(os.path.join(box_a, "m01.tmp"))[16:], "00210000")
        inbox, outbox = read_all(os.path.join(box_a, "inbox"), ""), read_all(box_b, ".tmp")
        for i, body in enumerate(texts):
            header = zip_header(os.path.join(box_a, "m%02d.tmp" % i))
            self.assertEqual(inbox.pop("m%02d-%s.imap" % (i, header)), header.encode() + b"\r\n" + body, i)
            self.assertEqual(outbox.pop("m%02d.tmp" % i), stuffed(body), i)
        header = zip_header(os.path.join(box_a, "a-1.tmp"))
        self.assertIn("a-%s.imap" % header, inbox)
        self.assertEqual(sorted(inbox.values()), [header.encode() + b"\r\n" + t for t in (b"first", b"second")])
        self.assertIn("c.tmp", outbox)
        self.assertEqual(sorted(outbox.values()), [b"first" + END, b"second" + END])

        # The ".tmp" files as DATA of a real SMTP conversation.
        received = os.path.join(work, "received")
        os.makedirs(received)
        peer = subprocess.Popen(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "smtp_peer.py"), received],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        try:
            port = int(peer.stdout.readline().decode().split("=")[1])
            with smtplib.SMTP("127.0.0.1", port, timeout=60) as client:
                client.ehlo()
                for i, body in enumerate(texts):
                    client.mail("from@a.test")
                    client.rcpt("to@b.test")
                    self.assertEqual(client.docmd("DATA")[0], 354)
                    with open(os.path.join(box_a, "m%02d.tmp" % i), "rb") as f:
                        client.send(f.read())
                    code, reply = client.getreply()
                    self.assertEqual(code, 250, reply)
                    with open(os.path.join(received, reply.decode().split()[-1] + ".eml"), "rb") as f:
                        self.assertEqual(f.read(), body + b"\r\n", i)  # DATA keeps the last line's CRLF
        finally:
            peer.kill()
            peer.communicate()


if __name__ == "__main__":
    unittest.main()
