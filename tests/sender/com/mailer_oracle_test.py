"""Mailer objects against Python's email parser: mailer_tool drives them
late bound under Wine, aiosmtpd (smtp_peers.py, started by
run_with_peers.sh) records what arrives, and email.parser with
policy.default reads it back. Also the Date header under four time zones.
    run_with_peers.sh python3 mailer_oracle_test.py mailer_tool.exe VelmoraCOM.dll
"""
import datetime
import os
import random
import shutil
import socket
import sys
import tempfile
import unittest
import zoneinfo
from email import policy
from email.headerregistry import Address
from email.parser import BytesParser
from email.utils import parsedate_to_datetime

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "support"))
from wine_com import run, win, wine_env  # noqa: E402

TOOL = os.path.abspath(sys.argv.pop(1))
DLL = os.path.abspath(sys.argv.pop(1))
ENV = wine_env(DLL)
SERVER = "127.0.0.1:%s" % os.environ["VM_SMTP4_PORT"]


def hexed(text):
    return (text.encode("utf-8") if isinstance(text, str) else text).hex() or "-"


class Job:
    """The lines of a mailer_tool job; run() answers the output lines as
    (hresult, text). mark(label) notes where the next output line lands."""

    def __init__(self):
        self.lines = []
        self.outputs = 0
        self.marks = {}

    def __getattr__(self, verb):
        def add(name="", *args):
            self.lines.append(" ".join([verb, name] + [hexed(a) for a in args]))
            self.outputs += verb in ("call", "get", "now")
            return self
        return add

    def mark(self, label):
        self.marks[label] = self.outputs
        return self

    def message(self, sender, body="body", to=True):
        """A fresh Mailer for the aiosmtpd peer, from sender, to one recipient."""
        self.new().put("RemoteHost", SERVER).put("MailFrom", sender).put("BodyText", body)
        self.put("FromAddress", "from@oracle.test")
        return self.call("AddRecipient", "to@oracle.test", "To") if to else self

    def run(self, work, **environment):
        job, out = os.path.join(work, "job.txt"), os.path.join(work, "out.txt")
        with open(job, "w") as f:
            f.write("\n".join(self.lines) + "\n")
        code, text = run(dict(ENV, **environment), TOOL, win(DLL), win(job), win(out))
        assert code == 0, text
        with open(out) as f:
            return [(int(status, 16), bytes.fromhex(value).decode("utf-8"))
                    for status, _, value in (line.rstrip("\n").partition(" ") for line in f)]


def deliveries(sender):
    """(recipients, content) of each message aiosmtpd took from sender."""
    with socket.create_connection(("127.0.0.1", int(os.environ["VM_REPORT_PORT"]))) as conn:
        conn.sendall(b"MAIL %s\n" % sender.encode())
        answer = b""
        while chunk := conn.recv(65536):
            answer += chunk
    count, _, rest = answer.partition(b"\n")
    found = []
    for _ in range(int(count)):
        rcpts, _, rest = rest.partition(b"\n")
        length, _, rest = rest.partition(b"\n")
        found.append((rcpts.decode().split(), rest[:int(length)]))
        rest = rest[int(length):]
    return found


def parsed(sender):
    """The one message from sender, parsed, and its envelope recipients."""
    found = deliveries(sender)
    assert len(found) == 1, (sender, len(found))
    return BytesParser(policy=policy.default).parsebytes(found[0][1]), found[0][0]


def crlf(text):
    return text.replace("\r\n", "\n").replace("\r", "\n").replace("\n", "\r\n").encode()


class MailerOracle(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="velmora-mailer-")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def file(self, name, data):
        path = os.path.join(self.work, name)
        with open(path, "wb") as f:
            f.write(data)
        return win(path)

    def assertNoDefects(self, message):
        for part in message.walk():
            self.assertEqual(part.defects, [], part.get_content_type())
            for name, value in part.items():
                self.assertEqual(value.defects, (), name)

    def test_messages_read_back(self):
        rng = random.Random(30)
        subject = " ".join("".join(rng.choice("abcdefghij") for _ in range(rng.randint(1, 12)))
                           for _ in range(150))[:1500]
        files = [(name, bytes(rng.getrandbits(8) for _ in range(size)))
                 for name, size in [("empty file.bin", 0), ("one.bin", 1), ("fifty three.bin", 53),
                                    ("it's 54.bin", 54), ("55.bin", 55), ("block 1620.bin", 1620)]]
        files.append(("random 3MB.bin", rng.randbytes(3 << 20)))
        job = Job().message("full@oracle.test", "Line one\r\n.dot line\nlast", to=False)
        job.put("Subject", subject).put("FromName", "Ann Example").put("FromAddress", "ann@from.test")
        for i in range(300):
            job.call("AddRecipient", "r%d@to.test" % i, "Rcpt %d" % i)
        job.call("AddCc", "c1@cc.test", "Cee One").call("AddCc", "c2@cc.test", "")
        job.call("AddBcc", "hidden@bcc.test", "Hidden").call("AddReplyTo", "reply@rt.test", "Reply Desk")
        for name, data in files:
            job.call("AddAttachment", self.file(name, data))
        job.call("AddEmbeddedImage", self.file("logo.png", b"\x89PNG\r\n\x1a\n.\r\n"), "<logo@oracle.test>")
        job.mark("full").call("SendMail").get("Result").get("Response")

        # Encoded words: the subject and display name come back decoded.
        words = "Grüße aus Köln, ünïcødé — € " * 6
        job.message("encoded@oracle.test").put("Charset", "utf-8").encode("Subject", words)
        job.encode("FromName", "Jürgen").put("FromAddress", "j@from.test").call("SendMail")

        # Dots: stuffed once over the whole text, whatever the line ends.
        bodies = [".", "..", ".x", "a\r\n.\r\nb", ".\r\nRSET\r\nQUIT", "line\n.\nMAIL From:<e@x>",
                  "bare\rcr\r.\r", "bare\nlf\n.\n"]
        for i, body in enumerate(bodies):
            job.message("dots%d@oracle.test" % i, body).call("SendMail")
        job.message("rounds@oracle.test", ".a")
        for _ in range(3):
            job.append("BodyText", "\r\n.b")
        job.mark("rounds").get("BodyText").call("SendMail")
        appended = {"dotfile": b".starts with a dot\n.\nend", "lf": b"one\ntwo\n.\n", "cr": b"one\rtwo\r.\r"}
        for name, data in appended.items():
            job.message(name + "@oracle.test", "before\r\n").call("AppendBodyFromFile", self.file(name, data))
            job.call("SendMail")

        # Header values with line breaks stay one header each.
        evil = "x\r\nBcc: v@x.org\r\n\r\nbody"
        job.message("inject@oracle.test").put("Subject", evil).put("FromName", evil).put("FromAddress", "f@x.org")
        job.call("AddCc", "c@cc.test", evil).call("AddCustomHeader", "X-Evil: " + evil).call("SendMail")

        # A body line over 998 octets: quoted-printable, back unchanged.
        long_body = "start\r\n" + "=." * 600 + " \r\nend"
        job.message("long@oracle.test", long_body).call("SendMail")
        out = job.run(self.work)
        self.assertTrue(all(status == 0 for status, _ in out), out)
        self.assertTrue(all(text == "true" for status, text in out if text in ("true", "false")), out)

        message, envelope = parsed("full@oracle.test")
        self.assertNoDefects(message)
        at = job.marks["full"]
        self.assertEqual(out[at:at + 3], [(0, "true"), (0, "1"), (0, "")])
        self.assertEqual(message["Subject"], subject)
        self.assertEqual(message["From"].addresses, (Address("Ann Example", "ann", "from.test"),))
        self.assertEqual(message["To"].addresses,
                         tuple(Address("Rcpt %d" % i, "r%d" % i, "to.test") for i in range(300)))
        self.assertEqual(message["Cc"].addresses, (Address("Cee One", "c1", "cc.test"), Address("", "c2", "cc.test")))
        self.assertEqual(message["Reply-To"].addresses, (Address("Reply Desk", "reply", "rt.test"),))
        self.assertIsNone(message["Bcc"])
        self.assertEqual(envelope, ["r%d@to.test" % i for i in range(300)] + ["c1@cc.test", "c2@cc.test",
                                                                              "hidden@bcc.test"])
        parts = list(message.iter_parts())
        self.assertEqual(parts[0].get_payload(decode=True), b"Line one\r\n.dot line\r\nlast\r\n")
        self.assertEqual([(p.get_filename(), p.get_content()) for p in parts[1:-1]], files)
        self.assertEqual((parts[-1].get_filename(), parts[-1]["Content-ID"], parts[-1].get_content()),
                         ("logo.png", "<logo@oracle.test>", b"\x89PNG\r\n\x1a\n.\r\n"))

        message, _ = parsed("encoded@oracle.test")
        self.assertNoDefects(message)
        self.assertEqual(message["Subject"], words)
        self.assertEqual(message["From"].addresses, (Address("Jürgen", "j", "from.test"),))

        for i, body in enumerate(bodies):
            message, _ = parsed("dots%d@oracle.test" % i)
            self.assertEqual(message.get_payload(decode=True), crlf(body) + b"\r\n\r\n", body)
        self.assertEqual(deliveries("e@x"), [])
        rounds = out[job.marks["rounds"]][1]
        self.assertEqual(rounds, ".a\r\n.b\r\n.b\r\n.b")
        self.assertEqual(parsed("rounds@oracle.test")[0].get_payload(decode=True), crlf(rounds) + b"\r\n\r\n")
        for name, data in appended.items():
            message, _ = parsed(name + "@oracle.test")
            self.assertEqual(message.get_payload(decode=True), b"before\r\n" + crlf(data.decode()) + b"\r\n\r\n")

        message, _ = parsed("inject@oracle.test")
        self.assertEqual(sorted(name.lower() for name in message.keys()),
                         ["cc", "content-type", "date", "from", "mime-version", "subject", "to", "x-evil"])
        self.assertEqual(message["Subject"], evil.replace("\r", " ").replace("\n", " "))
        self.assertEqual(message.get_payload(decode=True), b"body\r\n\r\n")

        message, _ = parsed("long@oracle.test")
        self.assertNoDefects(message)
        self.assertEqual(message["Content-Transfer-Encoding"], "quoted-printable")
        self.assertEqual(message.get_payload(decode=True).replace(b"\r\n", b"\n"),
                         (long_body + "\r\n\r\n").replace("\r\n", "\n").encode())

    def test_date_in_four_zones(self):
        zones = {"Europe/Berlin": {}, "Australia/Sydney": {}, "Asia/Kolkata": {"LANG": "de_DE.UTF-8"}, "UTC": {}}
        for zone, more in zones.items():
            sender = "date-%s@oracle.test" % zone.replace("/", "-").lower()
            out = Job().message(sender).call("SendMail").now().run(self.work, TZ=zone, **more)
            self.assertEqual(out[-2], (0, "true"), zone)
            sent = datetime.datetime.fromtimestamp(int(out[-1][1]), datetime.timezone.utc)
            message, _ = parsed(sender)
            header = str(message["Date"])
            expected = sent.astimezone(zoneinfo.ZoneInfo(zone)).utcoffset()
            minutes = int(expected.total_seconds()) // 60
            sign = "+" if minutes > 0 else "-"
            self.assertTrue(header.endswith(" %s%02d%02d" % (sign, abs(minutes) // 60, abs(minutes) % 60)),
                            (zone, header))
            self.assertIn(header[:3], ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"])
            when = parsedate_to_datetime(header)
            if when.tzinfo is None:  # "-0000"
                when = when.replace(tzinfo=datetime.timezone.utc)
            self.assertLessEqual(abs((when - sent).total_seconds()), 2, (zone, header))


if __name__ == "__main__":
    unittest.main(verbosity=2)
