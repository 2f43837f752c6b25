#!/usr/bin/python3
"""Runs the date probe under Wine with several TZ values and checks its texts
with email.utils.parsedate_to_datetime against the zone's offset that
Python's time module computes for the same moment.
    check_dates.py WINE_RUN PROBE"""
import datetime
import email.utils
import os
import subprocess
import sys
import time

ZONES = [
    "UTC",
    "Europe/Berlin",               # whichever season it is now
    "CET-1CEST,J1/0,J365/25",      # Berlin's offsets, summer time all year
    "CET-1",                       # Berlin's offset, no summer time
    "Asia/Kolkata",                # half an hour
    "America/New_York",            # west of UTC
]


def offset_minutes(zone, when):
    saved = os.environ.get("TZ")
    os.environ["TZ"] = zone
    time.tzset()
    offset = time.localtime(when).tm_gmtoff // 60
    if saved is None:
        del os.environ["TZ"]
    else:
        os.environ["TZ"] = saved
    time.tzset()
    return offset


def parse(text):
    # "-0000" parses as a time without zone: UTC for our purpose.
    parsed = email.utils.parsedate_to_datetime(text)
    return parsed.replace(tzinfo=datetime.timezone.utc) if parsed.tzinfo is None else parsed


def parsed_offset(parsed):
    return int(parsed.utcoffset().total_seconds() // 60)


failures = []
for zone in ZONES:
    env = dict(os.environ, TZ=zone)
    result = subprocess.run([sys.argv[1], sys.argv[2]], env=env, capture_output=True, text=True, timeout=120)
    values = dict(line.split("=", 1) for line in result.stdout.splitlines() if "=" in line)
    try:
        epoch = int(values["epoch"])
        expected = offset_minutes(zone, epoch)
        now = parse(values["now"])
        checks = {
            "bias": int(values["bias"]) == -expected,
            "zone text": parsed_offset(parse("Thu, 01 Jan 2004 00:00:00 " + values["zone"])) == expected,
            "now offset": parsed_offset(now) == expected,
            "now instant": abs(now.timestamp() - epoch) <= 5,
        }
        for name, month in (("winter", 1), ("summer", 7)):
            parsed = parse(values[name])
            checks[name] = (parsed.year, parsed.month, parsed.day, parsed.hour, parsed.minute, parsed_offset(parsed)) == (
                2024, month, 15, 8, 30, expected)
        bad = [name for name, ok in checks.items() if not ok]
    except (KeyError, ValueError, TypeError) as error:
        bad = ["output: %r" % error]
    print("%-26s %s %s" % (zone, values.get("now", "?"), "ok" if not bad else "FAILED " + ", ".join(bad)))
    if bad:
        failures.append(zone)
        print(result.stdout, result.stderr)
sys.exit(1 if failures else 0)
