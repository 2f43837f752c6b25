#!/usr/bin/python3
"""Network peers of the sender tests, on free ports of the loopback only.

SCENARIO: raw DNS over UDP on 127.0.0.1; the first label of the question
picks the replies (see scenario_replies); "otherport" and "otheraddr" send a
right answer from another port of 127.0.0.1 or from 127.0.0.2 first.
CLOSED: a TCP port of 127.0.0.1 that refuses connections.
TCP4, TCP6: TCP on 127.0.0.1 and [::1] (TCP6 empty when [::1] cannot be
bound); the client's first line picks what the server does: ID answers
"v4\\n" or "v6\\n" and then echoes, LATE sends "0123456789" after 0.8 s,
CLOSE closes, HOLD neither reads nor writes for 120 s.

Prints "NAME=port" lines and then "READY"; serves until it is killed.
"""
import os
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../support"))
from peer_kit import announce, listen, read_line, serve_each  # noqa: E402


def scenario_replies(query):
    """Datagrams answering a query, by its first label; [] is silence."""
    rid, = struct.unpack("!H", query[:2])
    question = query[12:query.index(b"\0", 12) + 5]
    label = query[13:13 + query[12]].decode("latin-1")

    def message(records, count=None, rid=rid, flags=0x8180, question=question):
        count = len(records) if count is None else count
        return struct.pack("!6H", rid, flags, 1, count, 0, 0) + question + b"".join(records)

    def record(data, rtype=1, owner=b"\xc0\x0c"):
        return owner + struct.pack("!HHIH", rtype, 1, 60, len(data)) + data

    def pointer(offset):
        return struct.pack("!H", 0xC000 | offset)

    first, last, a = record(bytes([192, 0, 2, 1])), record(bytes([192, 0, 2, 3])), b"\1\2\3\4"
    fault = 12 + len(question) + 16  # where the second record starts
    faulty = {  # a good record, a faulty one, a good one never reached
        "selfptr": [first, record(a, owner=pointer(fault)), last],
        "forward": [first, record(a, owner=pointer(fault + 20)), last],
        "pastend": [first, record(a, owner=b"\xff\xff"), last],
        "len40": [first, record(a, owner=b"\x40" + b"a" * 64 + b"\0"), last],
        "a3": [first, record(b"\1\2\3"), last],
        # The first record's address bytes point to the second's owner, which points back.
        "mutual": [record(bytes([0xC0, fault, 2, 1])), record(a, owner=pointer(fault - 4)), last],
    }
    good = message([first])
    if label in faulty:
        return [message(faulty[label])]
    if label == "datalen":
        return [message([first, b"\xc0\x0c" + struct.pack("!HHIH", 1, 1, 60, 200) + a])]
    if label == "count65535":
        return [message([first], count=65535)]
    if label == "big700":  # 40 A records, then a TXT record filling up to 700 bytes
        records = [record(bytes([192, 0, 2, i])) for i in range(1, 41)]
        text = b"x" * (700 - 12 - len(question) - 16 * 40 - 13)
        return [message(records + [record(bytes([len(text)]) + text, rtype=16)])]
    if label == "short11":
        return [good[:11], good]
    if label == "wrongid":
        return [message([record(bytes([192, 0, 2, 99]))], rid=rid ^ 1), good]
    if label == "otherq":
        return [message([first], question=b"\x05other\x01x\0\0\1\0\1")]
    if label == "noqr":
        return [message([first], flags=0x0180)]
    if label in ("otherport", "otheraddr"):  # a right answer from elsewhere first
        return [(label[5:], message([record(bytes([192, 0, 2, 66]))])), good]
    return [] if label == "silence" else [good]


def serve_dns(sock, strays):
    while True:
        query, peer = sock.recvfrom(65536)
        try:
            for reply in scenario_replies(query):
                if isinstance(reply, tuple):
                    strays[reply[0]].sendto(reply[1], peer)
                else:
                    sock.sendto(reply, peer)
        except (ValueError, IndexError):
            pass


def serve_client(conn, tag):
    with conn:
        line = read_line(conn)
        if not line.endswith(b"\n"):
            return
        command = line.strip()
        try:
            if command == b"ID":
                conn.sendall(tag + b"\n")
                while data := conn.recv(65536):
                    conn.sendall(data)
            elif command == b"LATE":
                time.sleep(0.8)
                conn.sendall(b"0123456789")
                while conn.recv(65536):
                    pass
            elif command == b"HOLD":
                time.sleep(120)
        except OSError:
            pass


def main():
    udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    udp.bind(("127.0.0.1", 0))
    strays = {"port": socket.socket(socket.AF_INET, socket.SOCK_DGRAM),
              "addr": socket.socket(socket.AF_INET, socket.SOCK_DGRAM)}
    strays["port"].bind(("127.0.0.1", 0))
    strays["addr"].bind(("127.0.0.2", udp.getsockname()[1]))  # the server's port, another address
    threading.Thread(target=serve_dns, args=(udp, strays), daemon=True).start()
    closed = socket.socket()  # bound but never listening: connections are refused
    closed.bind(("127.0.0.1", 0))
    ports = {"SCENARIO": udp.getsockname()[1], "CLOSED": closed.getsockname()[1]}
    for name, family, host in [("TCP4", socket.AF_INET, "127.0.0.1"), ("TCP6", socket.AF_INET6, "::1")]:
        try:
            listener = listen(family, host, 16)
        except OSError:
            ports[name] = ""
            continue
        ports[name] = listener.getsockname()[1]
        serve_each(listener, serve_client, b"v6" if family == socket.AF_INET6 else b"v4")
    announce(ports)


if __name__ == "__main__":
    main()
