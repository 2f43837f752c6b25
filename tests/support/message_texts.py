#!/usr/bin/python3
"""Independent reference for the message texts and "strings.dat".

Holds a verbatim copy of the two tables' rows, decodes the defaults itself and
implements the file's line rules and the quoted-literal decoding on its own.

  message_texts.py generate DIR COUNT SEED
      writes DIR/defaults.hex (the 99 defaults), and COUNT seeded files
      DIR/NNN.dat with DIR/NNN.hex (the 99 texts after that file was applied
      to the defaults). A dump line is "index or key<TAB>text in hex".
  message_texts.py binaries FILE...
      fails unless every non-empty default stands in each file (the built
      libraries carry the tables).

When the document the rows were copied from is found beside or above the
checkout, the copy is compared with it first; a difference fails the run.
"""
import pathlib
import random
import re
import sys

ROWS = r'''
| 0 | none | "250-ENHANCEDSTATUSCODES\r\n250-SIZE\r\n250-EXPN\r\n250-ETRN\r\n250-ATRN\r\n250-DSN\r\n250-CHUNKING\r\n250-CHECKPOINT\r\n250-8BITMIME\r\n" |
| 1 | none | "!CHUNKING" |
| 5 | stApprovalRequest | "Approval request for list: %s from user: %s" |
| 6 | stDeliveryID | "(id %s) " |
| 7 | stDeliveryNotification | "Delivery notification (success)" |
| 8 | stDeliveryTo | "Your message %swas successfully delivered to:" |
| 9 | stRelayed | "Delivery notification (mail relayed)" |
| 10 | stRelayedTo | "Your message %swas successfully relayed to %s. The message was addressed to:" |
| 11 | stRelayedText | "Unfortunately, the remote mail system does not support confirmation of actual delivery. Unless the delivery fails, this will be the only delivery status notification sent." |
| 12 | stSystemWarning | "Warning: system report" |
| 13 | stDiskSpace | "System Monitor has detected low free disk space on drive %s: %s MB" |
| 14 | stCPUUsage | "System Monitor has detected a %s%% CPU utilization for the last %s minutes" |
| 15 | stMemoryUsage | "System Monitor has detected low physical available memory on your system %s kB" |
| 16 | none | "[Challenge Response] Confirm your email by visiting this URL %s" |
| 17 | none | "To prove your message was sent by a human and not a computer, visit the URL below and type in the alphanumeric text you will see in the image. You will only be asked to do this once for this email address.\r\n%s\r\n" |
| 18 | stRemoteServerMonitorSubject | "Remote Server Watchdog: server %s unreachable" |
| 19 | stRemoteServerMonitorSubjectBack | "Remote Server Watchdog: server %s back online" |
| 20 | stRemoteServerDown | "Remote Server Watchdog finds the server %s:%s unreachable" |
| 21 | stRemoteServerDownBack | "Remote Server Watchdog finds the server %s:%s back online" |
| 22 | stRemoteServerDownSince | "The server seems to be down since %s" |
| 23 | stRemoteServerDownSinceBack | "The server seems to be back online since %s and the down time was %s" |
| 24 | stReportURL | "URL Change Notification: %s changed" |
| 25 | stReportURLLastUpdate | "Last-Modified: " |
| 26 | stReportURLSize | "Size: " |
| 27 | stCatalogMessage | "Catalog server response" |
| 28 | stCatalogFile | "Enclosed item %s [%s] from the catalog %s" |
| 29 | stCatalogDir | "The %s catalog contains the following files:" |
| 30 | stCatalogDirItem | "%s, %s, %s bytes, %s" |
| 31 | stCatalogNoPass | "Incorrect password" |
| 32 | stCatalogNoItem | "Catalog or item %s not found" |
| 33 | stCatalogNoFile | "File %s not found" |
| 34 | stCatalogNoRights | "Insufficient rights" |
| 35 | stDeliveryProblems | "Delivery unsuccessful: " |
| 36 | stUnknownUser | "Unknown recipient " |
| 37 | stMaxList | "The message is too long" |
| 38 | stWarningSpace | "Warning: mailbox close to limit/quota" |
| 39 | stWarningSpaceText | "Your mailbox is close to its limit/quota. Please empty your mailbox or you will not be able to receive new messages." |
| 40 | stReturnedMail | "Returned mail: " |
| 41 | stResponseError | "response error" |
| 42 | stServerDisconnected | "permanent problems with the remote server" |
| 43 | stCouldNotSend | "Warning: could not send message for past %s hours" |
| 44 | stInfoMess | "Unknown recipient: %s from: %s" |
| 45 | stMailRejected | "Mail has been rejected or forwarded" |
| 46 | stFollowingAddress | "  ----- The following addresses had permanent fatal errors -----" |
| 47 | stFollowingAddressTransient | "  ----- The following addresses had transient non-fatal errors -----" |
| 48 | stOriginalMessage | "The original message was received at " |
| 49 | stTranscript | "  ----- Transcript of session follows -----" |
| 50 | stWhileTalking | ".... while talking to " |
| 51 | stConnectionError | ".... connection error: connection reset by peer/timeout" |
| 52 | stWhileMX | ".... while issuing MX query to " |
| 53 | stCouldNotConnect | "could not connect and send the mail to " |
| 54 | stCouldNotConnectToDNS | "could not connect to DNS " |
| 55 | stTooManyHops | "too many hops" |
| 56 | stWarningOnlyA | "Warning: message still undelivered after %s hours" |
| 57 | stWarningOnlyB | "Will keep trying until message is %s days old" |
| 58 | stWarnLine | "    **********************************************" |
| 59 | stWarnLineA | "    **      THIS IS A WARNING MESSAGE ONLY      **" |
| 60 | stWarnLineB | "    **  YOU DO NOT NEED TO RESEND YOUR MESSAGE  **" |
| 61 | stVirusAlert | "====================================================================" |
| 62 | stVirusError | "Warning: antivirus system report" |
| 63 | stVirusSystem | "The following message has been detected by the antivirus system" |
| 64 | stVirusResponse | "The antivirus module has responded with the following error code: " |
| 65 | stVirusName | "The virus found was: " |
| 66 | stSenderVirus | "The message was sent from: " |
| 67 | stRecipientVirus | "The message was sent to: " |
| 68 | stVirusRemoved | "There was a file infected with a virus in this message.\r\nThe file %s was removed by the antivirus system.\r\n" |
| 69 | stVirusUpdateProblem | "Warning: antivirus update problem" |
| 70 | stVirusUpdateProblemBody | "The antivirus engine was unable to complete the update process.\r\nPlease, check the following URL for more information.\r\n\r\n%s" |
| 71 | stMailBoxSize | "The size of this mailbox has exceeded the mailbox limit" |
| 72 | stMailListSize | "The size of the message exceeded the message size limit" |
| 73 | stRRA | "A message which requested delivery confirmation recently arrived at this server." |
| 74 | stRRB | "Note: This Return Receipt only acknowledges that the message was received by the server. There is no guarantee that the content has been read or understood." |
| 75 | stRRC | "Message Recipient: %s" |
| cLSError | "Unknown list server command: " |
| cLSListError | "List server command error: " |
| cLSChangedMode | "User %s has been successfully changed in the the mailing list: " |
| cLSNoSuchMailingList | "No such mailing list: " |
| cLSJoin | "User %s has been successfully subscribed to the mailing list: " |
| cLSConfirm | "User %s [%s] has been added for the confirmation to the mailing list: " |
| cLSConfirmA | "Please, reply to this message so the user can be subscribed to the mailing list." |
| cLSLeave | "User %s has been successfully unsubscribed from the mailing list: " |
| cLSNoLeave | "User %s was not found in the mailing list: " |
| cLSAlready | "User %s is already subscribed to the mailing list: " |
| cLSRights | "You do not have the sufficient rights to perform the command: " |
| cLSPassword | "Incorrect password" |
| cLSNotAllowed | "User %s is not an allowed subscriber for the mailing list: " |
| cLSListServer | "List server report: " |
| lsAddress | "Recipient: " |
| lsAllRecipients | "All members of the mailing list: " |
| lsAllRecipientsTotal | "Members total: " |
| lsAllLists | "All public mailing lists served by this list server: " |
| lsAllWhich | "List of all subscribed mailing lists for: " |
| clsMessageList | "Message list: " |
| clsMessages | "Messages: " |
| clsMessageDelimiter | "----------------------------" |
| stDigestList | "Digest list: " |
'''.strip("\n").split("\n")

def source_rows():
    """The table rows of the written description of these texts, when a copy
    of the project's shared documents lies above the checkout: the section
    holding the first row verbatim, from its heading to the next one."""
    here = pathlib.Path(__file__).resolve()
    for folder in list(here.parents) + [pathlib.Path("/work")]:
        shared = folder / "shared"
        if not shared.is_dir():
            continue
        for path in sorted(shared.rglob("*.md")):
            text = path.read_text(encoding="utf-8", errors="replace").split("\n")
            hit = next((i for i, line in enumerate(text) if line == ROWS[0]), None)
            if hit is None:
                continue
            start = max((i for i in range(hit) if text[i].startswith("# ")), default=0)
            end = next((i for i in range(hit, len(text)) if text[i].startswith("# ")), len(text))
            return [line for line in text[start:end] if re.match(r"\| (\d+|[A-Za-z]+) \| ", line)
                    and not line.startswith("| index |") and not line.startswith("| key |")]
    return None


def tables():
    """(main: index -> (key or None, text), list: [(key, text)])."""
    main, lists = {}, []
    for row in ROWS:
        first, last = row.index('"'), row.rindex('"')
        text = row[first + 1:last].replace("\\r\\n", "\r\n").encode("ascii")
        cells = [c.strip() for c in row[1:first].split("|") if c.strip()]
        if len(cells) == 2:
            main[int(cells[0])] = (None if cells[1] == "none" else cells[1], text)
        else:
            lists.append((cells[0], text))
    return main, lists


def trim(b):
    return b.strip(bytes(range(33)))


def delimited_word(line, index):
    """Item index of a '='-list after runs of blanks became one blank."""
    work = trim(re.sub(b" +", b" ", line)) + b"="
    items = work.split(b"=")
    return trim(items[index]) if index < len(items) else b""


def quoted_literal(value):
    out = bytearray()
    pos = 0
    while pos < len(value):
        ch = value[pos:pos + 1]
        if ch == b"'":
            close = value.find(b"'", pos + 1)
            if close < 0:
                break  # unclosed run: nothing more
            out += value[pos + 1:close]
            pos = close + 1
        elif ch == b"#":
            digits = re.match(rb"[0-9]*", value[pos + 1:]).group(0)
            if digits and int(digits) != 0:
                out.append(int(digits) % 256)
            pos += 1 + len(digits)
        else:
            pos += 1
    return bytes(out)


def apply_file(data, main, lists):
    texts = {i: t for i, (k, t) in main.items()}
    by_key = {}
    for i, (k, t) in main.items():
        if k:
            by_key[k.lower()] = ("m", i)
    for n, (k, t) in enumerate(lists):
        by_key[k.lower()] = ("l", n)
    list_texts = [t for k, t in lists]
    for line in re.split(b"\r\n|\r|\n", data):
        line = trim(line)
        if not line:
            continue
        key, value = delimited_word(line, 0), delimited_word(line, 1)
        if not key or not value:
            continue
        slot = by_key.get(key.decode("latin-1").lower())
        if slot is None:
            continue
        if slot[0] == "m":
            texts[slot[1]] = quoted_literal(value)
        else:
            list_texts[slot[1]] = quoted_literal(value)
    return texts, list_texts


def dump(texts, list_texts, lists):
    lines = ["%d\t%s" % (i, texts.get(i, b"").hex()) for i in range(76)]
    lines += ["%s\t%s" % (k, t.hex()) for (k, _), t in zip(lists, list_texts)]
    return "\n".join(lines) + "\n"


def generate_file(rng, main, lists):
    keys = [k for k, _ in main.values() if k] + [k for k, _ in lists]
    ending = rng.choice([b"\r\n", b"\n", b"\r", None])

    def some_key():
        pick = rng.random()
        if pick < 0.1:
            return str(rng.choice([0, 1, 2, 16, 17, 75])).encode()  # keyless texts by index
        if pick < 0.2:
            return rng.choice([b"stUnknown", b"cLS", b"stRRCx", b"x"])
        key = rng.choice(keys)
        return "".join(c.upper() if rng.random() < 0.3 else c.lower() if rng.random() < 0.3 else c
                       for c in key).encode()

    def piece():
        kind = rng.randrange(10)
        if kind == 0:
            return b"'" + rng.choice([b"Hello %s", b"a  b", b"    ", b"#13", b"x=y", b""]) + b"'"
        if kind == 1:
            return b"'it''s'"
        if kind == 2:
            return b"#" + bytes(rng.choice(b"0123456789") for _ in range(rng.randrange(26)))
        if kind == 3:
            return b"'unclosed " + bytes([rng.choice(b"ab #'")])
        if kind == 4:
            return rng.choice([b" ", b"  ", b"+", b"\t", b"word", b"="])
        if kind == 5:
            return b"'" + b"x" * rng.randrange(10000, 10300) + b"'"  if rng.random() < 0.05 else b"'\x1a'"
        if kind == 6:
            return bytes([rng.randrange(256)])
        return b"'" + bytes(rng.choice(b"abc %=#\x1a") for _ in range(rng.randrange(12))) + b"'"

    out = bytearray()
    for _ in range(rng.randrange(1, 30)):
        line = b" " * rng.randrange(3) + some_key() + b" " * rng.randrange(3)
        if rng.random() < 0.95:
            line += b"="
        line += b"".join(piece() for _ in range(rng.randrange(6)))
        out += line + (ending or rng.choice([b"\r\n", b"\n", b"\r"]))
    if rng.random() < 0.3:
        out = out.rstrip(b"\r\n")  # last line without an ending
    return bytes(out)


def main_program(argv):
    copy = source_rows()
    if copy is not None and copy != ROWS:
        print("message_texts.py: the committed rows differ from the document's table", file=sys.stderr)
        return 1
    main, lists = tables()
    if len(main) != 73 or len(lists) != 23:
        print("message_texts.py: wrong row count", file=sys.stderr)
        return 1
    if argv[1:2] == ["binaries"] and len(argv) > 2:
        # Each library carries the tables: every non-empty default's bytes
        # stand somewhere in the file.
        texts = [t for _, t in main.values() if t] + [t for _, t in lists if t]
        missing = 0
        for name in argv[2:]:
            data = pathlib.Path(name).read_bytes()
            for text in texts:
                if text not in data:
                    print("%s lacks %r" % (name, text), file=sys.stderr)
                    missing += 1
        return 1 if missing else 0
    if argv[1:2] != ["generate"] or len(argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    folder, count, seed = pathlib.Path(argv[2]), int(argv[3]), int(argv[4])
    folder.mkdir(parents=True, exist_ok=True)
    defaults = {i: t for i, (k, t) in main.items()}
    (folder / "defaults.hex").write_text(dump(defaults, [t for _, t in lists], lists))
    rng = random.Random(seed)
    for n in range(count):
        data = generate_file(rng, main, lists)
        (folder / ("%03d.dat" % n)).write_bytes(data)
        texts, list_texts = apply_file(data, main, lists)
        (folder / ("%03d.hex" % n)).write_text(dump(texts, list_texts, lists))
    return 0


if __name__ == "__main__":
    sys.exit(main_program(sys.argv))
