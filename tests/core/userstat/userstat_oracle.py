#!/usr/bin/env python3
"""Reads the installation the fixture wrote, with a parser of its own, and
writes what each case's report should be: userstat_oracle.py OUTDIR writes
OUTDIR/cases.txt (name, from, to, filter; tab-separated) and
OUTDIR/expected/<name>.csv. Groups are not resolved; the one group case is
checked by hand."""
import datetime
import math
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support"))
from records import ACCOUNT, ENTRY, Account, Settings, scramble, text as text_at  # noqa: E402
HEADER = ("[Domain],[Alias],[Received Messages],[Received Bytes],[Sent Messages],[Sent Bytes],[Sent Out Messages],"
          "[Sent Out Bytes],[Last Sent],[Last Received],[Last Login],[Messages Size],[Messages Count]\r\n")
EPOCH = datetime.date(1899, 12, 30)
MS = 86400000
FIRST_DAY, LAST_DAY = -693593, 2958465  # 0001-01-01 and 9999-12-31
RANGE = ("2024/01/10", "2024/03/20")
CASES = [
    ("star", *RANGE, "*"),
    ("empty", *RANGE, ""),
    ("domain", *RANGE, "example.com"),
    ("atdomain", *RANGE, "@other.org"),
    ("aliases", *RANGE, "bob@example.com;carol@other.org"),
    ("mixed", *RANGE, " ROBERT@Example.COM ; ;@ Third.NET ;"),
    ("long300", *RANGE, "pad@" + "n" * 278 + ".invalid;third.net"),
    ("long262", *RANGE, "pad@" + "n" * 238 + ".invalid;example.com"),  # 255 characters would end in "exam"
    ("reversed", "2024/03/20", "2024/01/10", "*"),
    ("invalid", "2024/13/45", "not a date", "*"),
    ("staff", *RANGE, "dave@other.org"),
]
# By hand: "dave" is in [staff], so only "[staff];team" is admitted: one day
# with the file's counters 1-6 (messages received, sent, sent out, then
# their bytes) and one message of 100 bytes.
HAND_CHECKED = {"staff": HEADER + "other.org,[staff];team,1,4,2,5,3,6,,,,100,1\r\n*,*,1,4,2,5,3,6,,,,100,1\r\n"}


def trim(text):
    return text.strip("".join(map(chr, range(33))))


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return b""


def parse_date(text):
    try:
        y, m, d = (int(trim(p)) for p in (text.split("/") + ["", ""])[:3])
        return (datetime.date(y, m, d) - EPOCH).days
    except ValueError:
        return 0


def round_ms(value):  # half away from zero
    x = abs(value) * MS
    r = math.floor(x) + (1 if x - math.floor(x) >= 0.5 else 0)
    return r if value >= 0 else -r


def whole_day(value):
    if not math.isfinite(value):
        return None
    ms = round_ms(value)
    d = abs(ms) // MS * (1 if ms >= 0 else -1)
    return d if FIRST_DAY <= d <= LAST_DAY else None


def stat_time(value):
    if not value > 0 or not math.isfinite(value) or round_ms(value) // MS > LAST_DAY:
        return ""
    days, ms = divmod(round_ms(value), MS)
    d = EPOCH + datetime.timedelta(days=days)
    return "%d/%02d/%02d %02d:%02d:%02d" % (d.year, d.month, d.day, ms // 3600000, ms // 60000 % 60, ms // 1000 % 60)


def folder_values(folder, first, last):
    sums, times, size, count = [0] * 6, [0.0] * 3, 0, 0
    data = read(os.path.join(folder, "userstat.dat"))
    counted = False
    for at in range(0, len(data) - 31, 32):
        value, rm, sm, om, rb, sb, ob = struct.unpack_from("<d6I", data, at)
        if whole_day(value) is not None and first <= whole_day(value) <= last:
            counted = True
            sums = [a + b for a, b in zip(sums, (rm, rb, sm, sb, om, ob))]
    for top, _, names in os.walk(folder) if counted else []:
        for name in names:
            if ".imap" in name or ".tmp" in name:
                size, count = size + os.path.getsize(os.path.join(top, name)), count + 1
    access = read(os.path.join(folder, "useraccess.dat"))
    if len(access) >= 24:
        times = struct.unpack_from("<3d", access)
    return sums, times, size, count


def line(domain, alias, values):
    sums, times, size, count = values
    fields = [domain, alias.replace("\r", " ").replace("\n", " ")] + sums + [stat_time(t) for t in times] + [size, count]
    return ",".join(map(str, fields)) + "\r\n"


def filter_items(text):
    if trim(text) in ("", "*"):
        return None
    items = []
    for item in map(trim, trim(text).split(";")):
        item = trim(item[1:]) if item.startswith("@") else item
        if "@" in item:
            alias, domain = item.split("@", 1)
            items.append((trim(domain).lower(), trim(alias).lower()))
        elif item:
            items.append((item.lower(), None))
    return items


def admits(items, domain, aliases):
    held = [trim(a).lower() for a in aliases.split(";")]
    return items is None or any(name == domain and (alias is None or not aliases or alias in held)
                                for name, alias in items)


def report(out, first, last, filt):
    config, mail = os.path.join(out, "config"), os.path.join(out, "mail")
    settings = scramble(read(os.path.join(config, "settings.cfg")))
    table = read(os.path.join(config, "domains.cfg"))
    items, text, totals = filter_items(filt), HEADER, [[0] * 6, [0.0] * 3, 0, 0]
    for index in range(struct.unpack_from("<I", settings, Settings.DOMAIN_COUNT)[0]):
        domain = text_at(table, index * ENTRY)
        users = read(os.path.join(config, domain, "users.cfg")) if admits(items, domain, "") else b""
        for at in range(0, len(users) - ACCOUNT + 1, ACCOUNT):
            rec = scramble(users[at:at + ACCOUNT])
            aliases, path = text_at(rec, Account.ALIASES), text_at(rec, Account.MAILBOX_PATH)
            if rec[Account.KIND] != 0 or not admits(items, domain, aliases):
                continue
            if not trim(path):
                values = ([0] * 6, [0.0] * 3, 0, 0)
            elif ":" in path or "\\\\" in path:
                values = folder_values(path[2:].replace("\\", "/"), first, last)
            else:
                values = folder_values(os.path.join(mail, *path.split("\\")), first, last)
            text += line(domain, aliases, values)
            totals = [[a + b for a, b in zip(totals[0], values[0])], totals[1], totals[2] + values[2],
                      totals[3] + values[3]]
    if items is None:
        text += line("-", "-", folder_values(mail, first, last))
    return text + line("*", "*", totals)


def main(out):
    out = os.path.abspath(out)
    os.makedirs(os.path.join(out, "expected"), exist_ok=True)
    with open(os.path.join(out, "cases.txt"), "w", newline="\n") as cases:
        for name, first, last, filt in CASES:
            cases.write("\t".join((name, first, last, filt)) + "\n")
            text = HAND_CHECKED.get(name) or report(out, parse_date(first), parse_date(last), filt)
            with open(os.path.join(out, "expected", name + ".csv"), "wb") as f:
                f.write(text.encode("latin-1"))


if __name__ == "__main__":
    main(sys.argv[1])
