#!/usr/bin/python3
"""SMTP peers of the sender tests, on free ports of the loopback only.

SMTP4, SMTP6: aiosmtpd on 127.0.0.1 and [::1] (SMTP6 empty when [::1]
cannot be bound). Recipients whose local part starts with "fwd" get 251,
"bad" 550, "multi" a three-line 250; every delivery is recorded.
S_<NAME>: one raw server per scripted scenario (SCENARIOS); each records
the bytes every connection sent it.
REPORT: one request line per connection, answered and closed:
  "MAIL <sender>": "<n>\\n", then per delivery from that envelope sender
    (bare address) "<rcpt> <rcpt>...\\n<length>\\n<content>";
  "RAW <NAME>": once the scenario's connections have ended (at most 20 s),
    "<connections>\\n<bytes of the last one>".

Prints "NAME=port" lines and then "READY"; serves until it is killed.
"""
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../support"))
from peer_kit import announce, listen, read_line, serve_each, start_smtp  # noqa: E402

LINE, DATA, CLOSE = "line", "data", "close"
OK_TEXT = ["250 hello", "250 sender ok", "250 rcpt ok", "354 go ahead", "250 queued", "221 bye"]


def talk(*replies, first="220 raw ready"):
    """The greeting, then one reply after each client line (the text after 354)."""
    script = [first + "\r\n"]
    for before, reply in zip(("220",) + replies, replies):
        script += [DATA if before.startswith("354") else LINE, reply + "\r\n"]
    return script


def refused_at(stage, reply):
    return talk(*OK_TEXT[:stage], reply)


SCENARIOS = {
    "OK": talk(*OK_TEXT),
    "BIG": talk(*OK_TEXT),
    "UNUSED": talk(*OK_TEXT),
    "GREET421": ["421 busy\r\n"],
    "GREET554": ["554 no service here\r\n"],
    "HELO501": refused_at(0, "501 bad greeting"),
    "MAIL451": refused_at(1, "451 try later"),
    "MAIL550": refused_at(1, "550 sender refused"),
    "RCPT452": refused_at(2, "452 too many"),
    "DATA554": refused_at(3, "554 no data"),
    "AFTER452": refused_at(4, "452 no room"),
    "AFTER554": refused_at(4, "554 rejected"),
    "QUIT500": refused_at(5, "500 what"),
    "MULTI": talk(*OK_TEXT, first="220-first\r\n220-second\r\n220 last"),
    "BYTEWISE": [("bytewise", "220-first\r\n220-second\r\n220 last\r\n")] + talk(*OK_TEXT)[1:],
    "DROPQUIT": talk(*OK_TEXT[:5]) + [LINE, CLOSE],
    "TWOINONE": talk("250 OK\r\n421 closing"),
    "LONG250": talk("250 hello", "250 " + "x" * 1496, *OK_TEXT[2:]),
    "SLOWGREET": [("sleep", 3)] + talk(*OK_TEXT),
    "SLOWMAIL": talk("250 hello") + [LINE, ("sleep", 3)] + talk(*OK_TEXT[1:])[2:],
    "SLOWACCEPT": talk(*OK_TEXT[:4]) + [DATA, ("sleep", 3), "250 queued\r\n", LINE, "221 bye\r\n"],
    "DROPGREET": ["220 raw ready\r\n", CLOSE],
    "DROPDATA": talk(*OK_TEXT[:4]) + [("read", 100000), CLOSE],
    "DROP354": talk(*OK_TEXT[:4]) + [CLOSE],
    "SILENT": [("sleep", 75)],
}


class Records:
    def __init__(self):
        self.lock = threading.Condition()
        self.deliveries = []  # (mail_from, rcpt_tos, content)
        self.raw = {name: [] for name in SCENARIOS}  # received bytes per connection
        self.active = {name: 0 for name in SCENARIOS}


RECORDS = Records()


class Handler:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        local = address.split("@")[0].lower()
        if local.startswith("bad"):
            return "550 no such user"
        envelope.rcpt_tos.append(address)
        if local.startswith("fwd"):
            return "251 will forward"
        if local.startswith("multi"):
            return "250-first\r\n250-second\r\n250 last"
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with RECORDS.lock:
            RECORDS.deliveries.append((envelope.mail_from, list(envelope.rcpt_tos), bytes(envelope.content)))
        return "250 Message accepted for delivery"


def run_scenario(conn, name):
    got = bytearray()
    consumed = 0  # bytes of the client's lines and text taken by the script

    def take(mark, start):
        nonlocal consumed
        while (at := got.find(mark, start)) < 0:
            data = conn.recv(65536)
            if not data:
                raise OSError("closed")
            got.extend(data)
        consumed = at + len(mark)

    try:
        for step in SCENARIOS[name]:
            if step == LINE:
                take(b"\r\n", consumed)
            elif step == DATA:
                take(b"\r\n.\r\n", consumed - 2)
            elif step == CLOSE:
                return got
            elif isinstance(step, str):
                conn.sendall(step.encode())
            elif step[0] == "sleep":
                time.sleep(step[1])
            elif step[0] == "read":
                while len(got) < step[1] and (data := conn.recv(65536)):
                    got.extend(data)
            elif step[0] == "bytewise":
                for byte in step[1].encode():
                    conn.sendall(bytes([byte]))
                    time.sleep(0.05)
        conn.settimeout(30)
        while data := conn.recv(65536):
            got.extend(data)
    except OSError:
        pass
    return got


def serve_scenario(conn, name):
    with RECORDS.lock:
        RECORDS.active[name] += 1
    with conn:
        got = run_scenario(conn, name)
    with RECORDS.lock:
        RECORDS.raw[name].append(bytes(got))
        RECORDS.active[name] -= 1
        RECORDS.lock.notify_all()


def answer(request):
    kind, _, arg = request.partition(" ")
    with RECORDS.lock:
        if kind == "MAIL":
            found = [d for d in RECORDS.deliveries if d[0] == arg]
            out = b"%d\n" % len(found)
            for _, rcpts, content in found:
                out += " ".join(rcpts).encode() + b"\n%d\n" % len(content) + content
            return out
        RECORDS.lock.wait_for(lambda: RECORDS.active[arg] == 0, timeout=20)
        conns = RECORDS.raw[arg]
        return b"%d\n" % len(conns) + (conns[-1] if conns else b"")


def serve_report(conn):
    with conn:
        conn.sendall(answer(read_line(conn).decode().strip()))


def main():
    ports = {}
    for name, family, host in [("SMTP4", socket.AF_INET, "127.0.0.1"), ("SMTP6", socket.AF_INET6, "::1")]:
        try:
            listener = listen(family, host)
        except OSError:
            ports[name] = ""
            continue
        start_smtp(Handler(), listener, hostname="smtp.test")
        ports[name] = listener.getsockname()[1]
    for name in SCENARIOS:
        listener = listen()
        ports["S_" + name] = listener.getsockname()[1]
        serve_each(listener, serve_scenario, name)
    report = listen()
    ports["REPORT"] = report.getsockname()[1]
    serve_each(report, serve_report)
    announce(ports)


if __name__ == "__main__":
    main()
