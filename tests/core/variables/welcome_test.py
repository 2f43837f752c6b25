#!/usr/bin/env python3
"""Welcome messages with variables through the real Api.dll: AddUser under
Wine (welcome_client.exe) on an installation whose "messages.dat" names a
template, for a ".tmp" account, an ".imap" account and one whose alias
holds "%%Execmarker%%"; Python's email package reads what they got. A
stand-in marker.exe beside the client leaves a file for every run.
    welcome_test.py path/to/welcome_client.exe path/to/marker.exe path/to/Api.dll FOLDER
"""
import email
import email.policy
import email.utils
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

SOURCE = os.environ.get("VM_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
from records import Settings, domain_entry, scramble, settings_record, write  # noqa: E402

CLIENT, MARKER, API, FOLDER = (os.path.abspath(a) for a in sys.argv[1:5])
RUN, INSTALL, TEMPLATES = (os.path.join(FOLDER, n) for n in ("run", "install", "templates"))
EVIL = "x%%Execmarker%%"


def windows(path):
    return "Z:" + path.replace("/", "\\")


TEMPLATE = """From: Postmaster <postmaster@a.test>
To: %%Recipient%%
Subject: Welcome %%Recipient_Alias%%
Date: %%RFC822_Date%%
X-Run: %%Recipient%% %%Exec marker.exe header%%
X-Escaped: %%\\Subject%% 100%
MIME-Version: 1.0
Content-Type: multipart/mixed; boundary="b1"

--b1
Content-Type: text/plain; charset=us-ascii

Hello %%Recipient_Alias%% at %%Recipient_Domain%%.
.
.x
$$Set this line is not written$$
--b1
Content-Type: text/x-body

%%Body%%
--b1
Content-Type: text/x-include

%%Include {lines}%%
--b1
Content-Type: text/x-command

%%Exec marker.exe lines%%
--b1
Content-Type: application/octet-stream; name="data.bin"
Content-Transfer-Encoding: base64

%%Include_Base64 {data}%%
--b1--
"""


def make():
    shutil.rmtree(FOLDER, ignore_errors=True)
    os.makedirs(RUN)
    shutil.copy(CLIENT, os.path.join(RUN, "welcome_client.exe"))
    shutil.copy(MARKER, os.path.join(RUN, "marker.exe"))
    config = os.path.join(INSTALL, "config")
    settings = settings_record(2)
    settings[Settings.WELCOME_MESSAGES] = 1
    write(os.path.join(config, "settings.cfg"), scramble(settings))
    write(os.path.join(config, "domains.cfg"), domain_entry("a.test") + domain_entry("b.test"))
    welcome = os.path.join(TEMPLATES, "welcome.txt")
    write(os.path.join(config, "messages.dat"), f"# welcome texts\r\nA.TEST = {windows(welcome)}\r\n"
                                                f"* {windows(welcome)}\r\n".encode())
    rng = random.Random(36)
    data = bytes(rng.randrange(256) for _ in range(1000)) + b"\x1a\r\n.\r\n"
    write(os.path.join(TEMPLATES, "data.bin"), data)
    write(os.path.join(TEMPLATES, "lines.txt"), b".\r\n.x\r\nfor %%Recipient_Alias%%\r\n")
    text = TEMPLATE.format(lines=windows(os.path.join(TEMPLATES, "lines.txt")),
                           data=windows(os.path.join(TEMPLATES, "data.bin")))
    write(welcome, text.replace("\n", "\r\n").encode())
    return data


def run_client():
    args = [os.path.join(RUN, "welcome_client.exe"), windows(API), windows(INSTALL) + "\\",
            "a.test", "ann", "0", "b.test", "ann", "1", "a.test", EVIL, "0"]
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([os.path.join(SOURCE, "scripts", "wine-run.sh"), *args], stdout=out,
                              stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, timeout=600).returncode
        out.seek(0)
        text = out.read().decode("latin-1")
    if code != 0:
        raise SystemExit(f"welcome_client: exit {code}\n{text}")


def unstuffed(data, problems, name):
    """A ".tmp" file's text as the services read it: the five bytes of the end
    mark off, each stuffed dot removed."""
    if not data.endswith(b"\r\n.\r\n"):
        problems.append(f"{name}: no end mark at the end")
        return data
    lines = data[:-5].split(b"\r\n")
    for line in lines:
        if line.startswith(b".") and not line.startswith(b".."):
            problems.append(f"{name}: unstuffed line {line!r}")
    return b"\r\n".join(line[1:] if line.startswith(b".") else line for line in lines)


def check(data):
    problems = []

    def expect(what, got, want):
        if got != want:
            problems.append(f"{what}: {got!r}, expected {want!r}")

    mail = os.path.join(INSTALL, "mail")
    tmp = open(os.path.join(mail, "a.test", "ann", "welcome.tmp"), "rb").read()
    imap = open(os.path.join(mail, "b.test", "ann", "inbox", "welcome.imap"), "rb").read()
    evil = open(os.path.join(mail, "a.test", EVIL, "welcome.tmp"), "rb").read()
    if not re.fullmatch(rb"0{16}[0-9A-F]{8}\r\n", imap[:26]):
        problems.append(f"imap header {imap[:26]!r}")
    texts = {"a.test": unstuffed(tmp, problems, "welcome.tmp"), "b.test": imap[26:],
             EVIL: unstuffed(evil, problems, "the marker account's welcome.tmp")}

    for owner, text in texts.items():
        domain = "b.test" if owner == "b.test" else "a.test"
        alias = EVIL if owner == EVIL else "ann"
        address = f"<{alias}@{domain}>"
        message = email.message_from_bytes(text, policy=email.policy.default)
        expect(f"{owner} To", [a.addr_spec for a in message["To"].addresses], [address[1:-1]])
        expect(f"{owner} Subject", message["Subject"], f"Welcome {alias}")
        expect(f"{owner} X-Run", message["X-Run"], f"{address} ran header")
        expect(f"{owner} X-Escaped", message["X-Escaped"], "%%Subject%% 100%")
        sent = email.utils.parsedate_to_datetime(message["Date"]).timestamp()
        if abs(sent - time.time()) > 3600:
            problems.append(f"{owner} Date: {message['Date']}")
        parts = [p.get_payload(decode=True) for p in message.iter_parts()]
        expect(f"{owner} parts", len(parts), 5)
        if len(parts) != 5:
            continue
        expect(f"{owner} text", parts[0], f"Hello {alias} at {domain}.\r\n.\r\n.x".encode())
        expect(f"{owner} body", parts[1], b"Hello %%Recipient_Alias%% at %%Recipient_Domain%%.\r\n.\r\n.x\r\n"
                                          b"$$Set this line is not written$$\r\n")
        expect(f"{owner} include", parts[2], f".\r\n.x\r\nfor {alias}\r\n".encode())
        expect(f"{owner} command", parts[3], b"ran lines\r\n.\r\n.x\r\n")
        expect(f"{owner} base64 part", parts[4], data)

    def same(text):
        return re.sub(rb"Date: [^\r]*\r\n", b"", text).replace(b"a.test", b"b.test")

    expect("unstuffed .tmp against the .imap text", same(texts["a.test"]), same(texts["b.test"]))
    markers = sorted(n for n in os.listdir(RUN) if n.startswith("marker-"))
    expect("marker files", markers, ["marker-header.txt", "marker-lines.txt"])
    for line in problems:
        print(line)
    print(f"welcome_test: {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    contents = make()
    run_client()
    sys.exit(check(contents))
