"""SMTP peer of the mailbox tests: aiosmtpd on a free port of 127.0.0.1.
Each message's DATA, as the server received and unstuffed it, is written to
FOLDER/N.eml (N counts from 1 and is named in the 250 reply). Prints
"PORT=n", then serves until it is killed or its stdin closes (the test that
started it has gone).
    smtp_peer.py FOLDER
"""
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../support"))
from peer_kit import exit_with_stdin, listen, start_smtp  # noqa: E402


class Keep:
    def __init__(self, folder):
        self.folder, self.count = folder, 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        with open(os.path.join(self.folder, "%d.eml" % self.count), "wb") as f:
            f.write(envelope.original_content)
        return "250 kept %d" % self.count


exit_with_stdin()
listener = listen()
start_smtp(Keep(sys.argv[1]), listener)
print("PORT=%d" % listener.getsockname()[1], flush=True)
while True:
    time.sleep(3600)
