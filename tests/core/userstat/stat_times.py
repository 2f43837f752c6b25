#!/usr/bin/env python3
"""Writes stat_times.txt: "value<TAB>text" lines of date-times from 1900 to
2100 (every 61st day at a varying time) and the edges, the text as
datetime gives it after rounding to the millisecond (half away from zero);
empty for 0, negative, NaN, infinite and past 9999-12-31."""
import datetime
import math
import sys

EPOCH = datetime.datetime(1899, 12, 30)
MS = 86400000


def text(value):
    if not value > 0 or not math.isfinite(value):
        return ""
    x = value * MS
    ms = math.floor(x) + (1 if x - math.floor(x) >= 0.5 else 0)
    try:
        t = EPOCH + datetime.timedelta(milliseconds=ms)
    except OverflowError:
        return ""
    return t.strftime("%Y/%m/%d %H:%M:%S")


days = range((datetime.datetime(1900, 1, 1) - EPOCH).days, (datetime.datetime(2100, 12, 31) - EPOCH).days + 1, 61)
values = [d + (i * 7919 * 1013 % MS) / MS for i, d in enumerate(days)]
values += [0.0, -1.0, -0.5, math.nan, math.inf, -math.inf, 1e-12, 2958465.5, 2958465.99999999, 2958466.0, 3e6, 1e300,
           45351 + 86399.9996 / 86400, 45351 + 86399.9994 / 86400, 2 + 999.5 / MS, 2 + 999.4 / MS,
           2 + 59.9996 / 86400, 73050.99999999]
with open(sys.argv[1], "w", newline="\n") as out:
    for v in values:
        out.write("%r\t%s\n" % (v, text(v)))
