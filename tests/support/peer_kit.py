"""What the network peers of the tests share: loopback listeners, a thread
per connection, line reads, an aiosmtpd server on a listener of its own,
and the "NAME=port" announcement the wrappers wait for."""
import asyncio
import os
import socket
import sys
import threading
import time


def listen(family=socket.AF_INET, host="127.0.0.1", backlog=64):
    """A listening TCP socket on a free port of the loopback."""
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.bind((host, 0))
    listener.listen(backlog)
    return listener


def serve_each(listener, handle, *args):
    """Accepts connections on a daemon thread; each runs handle(conn, *args)
    on a thread of its own."""

    def accept():
        while True:
            conn, _ = listener.accept()
            threading.Thread(target=handle, args=(conn,) + args, daemon=True).start()

    threading.Thread(target=accept, daemon=True).start()


def read_line(conn):
    """The bytes up to and including the first newline, read one at a time
    so that nothing after it is taken; shorter if the peer closes first."""
    line = b""
    while not line.endswith(b"\n") and (byte := conn.recv(1)):
        line += byte
    return line


def start_smtp(handler, listener, **options):
    """aiosmtpd with handler on an open listener, served by a daemon thread."""
    from aiosmtpd.smtp import SMTP

    loop = asyncio.new_event_loop()
    factory = lambda: SMTP(handler, loop=loop, **options)  # noqa: E731
    loop.run_until_complete(loop.create_server(factory, sock=listener))
    threading.Thread(target=loop.run_forever, daemon=True).start()


def announce(ports):
    """Prints "NAME=port" lines and "READY", then serves until killed."""
    for name, port in ports.items():
        print("%s=%s" % (name, port))
    print("READY", flush=True)
    while True:
        time.sleep(3600)


def exit_with_stdin():
    """Ends the process once its stdin closes (the test that started it has gone)."""
    threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
