#!/usr/bin/env python3
"""Writes "yyyy/mm/dd days" lines for every ninth day of 1900-2100, the days
counted from 1899-12-30 by Python's datetime: STAT_FILE."""
import datetime
import sys

start, end = datetime.date(1900, 1, 1), datetime.date(2100, 12, 31)
epoch = datetime.date(1899, 12, 30)
with open(sys.argv[1], "w") as out:
    day = start
    while day <= end:
        out.write("%d/%02d/%02d %d\n" % (day.year, day.month, day.day, (day - epoch).days))
        day += datetime.timedelta(days=9)
    out.write("2100/12/31 %d\n" % (end - epoch).days)
