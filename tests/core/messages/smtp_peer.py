"""SMTP peer of the mailbox tests: aiosmtpd on a free port of 127.0.0.1.
Each message's DATA, as the server received and unstuffed it, is written to
FOLDER/N.eml (N counts from 1 and is named in the 250 reply). Prints
"PORT=n", then serves until it is killed or its stdin closes (the test that
started it has gone).
    smtp_peer.py FOLDER
"""
import asyncio
import os
import sys
import threading

from aiosmtpd.smtp import SMTP


class Keep:
    def __init__(self, folder):
        self.folder, self.count = folder, 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        with open(os.path.join(self.folder, "%d.eml" % self.count), "wb") as f:
            f.write(envelope.original_content)
        return "250 kept %d" % self.count


async def main():
    keep = Keep(sys.argv[1])
    server = await asyncio.get_running_loop().create_server(lambda: SMTP(keep), "127.0.0.1", 0)
    print("PORT=%d" % server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


threading.Thread(target=lambda: (sys.stdin.read(), os._exit(0)), daemon=True).start()
asyncio.run(main())
