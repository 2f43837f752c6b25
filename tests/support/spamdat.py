#!/usr/bin/env python3
"""Independent model of the anti-spam settings file "spam.dat": its 67 keys
with kinds and defaults, how a file is read into the settings and how the
settings are written back. `generate DIR N SEED` writes N files DIR/NNN.dat
with the text each must write back after the defaults as DIR/NNN.expected;
`check TOOL` generates 500 into a temporary folder, runs TOOL DIR (which must
write DIR/NNN.out for every NNN.dat) and compares byte for byte."""
import os
import random
import subprocess
import sys
import tempfile

B, I, Y, T, L, C, P, H = "bool", "int", "byte", "text", "list", "charsets", "percent", "time"

KEYS = [
    ("SpamBayesian", B, 1), ("SpamBayesianNoTag", B, 0), ("SpamBayesianIgnoreMissing", B, 1),
    ("SpamPercentage", P, 90), ("AddSubject", B, 1), ("AddSubjectString", T, "[Spam]"),
    ("OutgoingRules", Y, 0), ("AutoIndexing", B, 0), ("IndexGenuinePercentage", I, 30),
    ("IndexSpamPercentage", I, 99), ("ArchiveIndexedMessages", B, 1), ("IgnoreMessagesLarger", I, 96),
    ("MessageBalance", I, 100), ("MaxIndexMessagesPerDay", I, 1000), ("IndexUsers", L, ""),
    ("WordStopList", L, ";fw;re;"), ("Logging", Y, 0), ("UseSpamFolder", B, 0),
    ("DeleteSpamMailOlder", I, 3), ("SpamUseIMAP", B, 1), ("SpamBypassNonUsers", B, 1),
    ("SpamCustomUsers", B, 1), ("SpamIMAPFolder", T, "Spam"), ("SpamCustomLow", I, 9),
    ("SpamCustomMedium", I, 6), ("SpamCustomHigh", I, 3), ("SkipIndexingForCharsets", C, "gb2312;big5"),
    ("CharsetSpam", B, 1), ("MissingCharset", B, 1), ("SpamUpdate", B, 0), ("SpamUpdateDays", Y, 0),
    ("SpamUpdateTime", H, (0, 0)), ("SpamUseCustomDB", B, 1),
    ("SpamUpdateURL", T, "http://update.example.com/update/spam.xml"), ("SpamFilterRecords", T, "7,0,1"),
    ("SpamHTMLPartsOnly", B, 1), ("SpamHTMLExternalURL", B, 1), ("SpamHTMLNoText", B, 1),
    ("SpamHTMLScript", B, 1), ("SpamHTMLEqual", B, 1), ("SpamHTMLOtherFilters", T, ""),
    ("SpamChallenge", B, 0), ("SpamChallengeAddOutgoing", B, 1), ("SpamChallengeMarked", B, 0),
    ("SpamChallengeUnMarked", B, 0), ("SpamChallengeExpires", I, 7), ("SpamChallengeURL", T, ""),
    ("SpamChallengeConnection", T, "VelmoraSpamChallenge"), ("SpamChallengeEmailFrom", T, "<>"),
    ("SpamChallengeMailFrom", T, "Challenge Response <challenge@example.com>"), ("SpamChallengePerc", B, 0),
    ("SpamChallengeSpam", I, 90), ("SpamChallengeGenuine", I, 30), ("SpamChallengeSeparateUsers", B, 0),
    ("SpamChallengeSAPerc", B, 0), ("SpamChallengeSASpam", I, 1000), ("SpamChallengeSAGenuine", I, 3),
    ("SpamChallengeGroupWare", B, 1), ("SpamChallengeSendOnce", B, 1), ("SpamChallengeFont", T, "Arial"),
    ("SpamChallengeFontSize", I, 22), ("SpamAssassinEnabled", B, 1), ("SpamAssassinMarked", B, 0),
    ("SpamAssassinRulesPath", T, ""), ("SpamAssassinReporting", B, 0), ("SpamAssassinNoCustom", B, 0),
    ("SpamMaxText", I, 32),
]
assert len(KEYS) == 67


def text_to_int(text):
    """Decimal with leading blanks and one sign; digits up to the first other character; low 32 bits."""
    i = 0
    while i < len(text) and text[i] == " ":
        i += 1
    sign = 1
    if i < len(text) and text[i] in "+-":
        sign = -1 if text[i] == "-" else 1
        i += 1
    value = 0
    while i < len(text) and text[i].isdigit():
        value = value * 10 + int(text[i])
        i += 1
    value = (sign * value) & 0xFFFFFFFF
    return value - (1 << 32) if value >= 1 << 31 else value


def strip(text):
    start, end = 0, len(text)
    while start < end and ord(text[start]) <= 32:
        start += 1
    while end > start and ord(text[end - 1]) <= 32:
        end -= 1
    return text[start:end]


def read(text, values):
    lines = text.replace("\r\n", "\n").replace("\r", "\n").split("\n")
    for line in lines:
        if "=" not in line:
            continue
        while "  " in line:
            line = line.replace("  ", " ")
        key, value = line.split("=", 1)
        key, value = strip(key), strip(value)
        if not value:
            continue
        for name, kind, _ in KEYS:
            if key.lower() != name.lower():
                continue
            if kind == B:
                values[name] = 1 if text_to_int(value) == 1 else 0
            elif kind == I:
                values[name] = text_to_int(value)
            elif kind == Y:
                values[name] = text_to_int(value) & 0xFF
            elif kind == T:
                values[name] = value
            elif kind == L:
                values[name] = ";" + value.replace(" ", "").lower() + ";"
            elif kind == C:
                values[name] = value.replace(" ", "")
            elif kind == P:
                values[name] = text_to_int(value)  # kept in hundredths
            elif kind == H:
                hours, _, minutes = value.partition(":")
                h, m = text_to_int(hours), text_to_int(minutes)
                if 0 <= h <= 23 and 0 <= m <= 59:
                    values[name] = (h, m)
            break


def write(values):
    out = []
    for name, kind, _ in KEYS:
        v = values[name]
        if kind == L:
            v = v.strip(";")
        elif kind == H:
            v = "%d:%02d" % v
        out.append("%s=%s\r\n" % (name, v))
    return "".join(out).encode("latin-1")


def random_value(rnd, kind):
    words = ["Ab", "cD", "x@Y.TEST", "koi8-R", "Big5", "", "q"]
    if kind in (B, Y, I, P) or rnd.random() < 0.05:
        pick = rnd.random()
        if kind == P and pick < 0.6:
            return str(rnd.randint(0, 1000))
        if pick < 0.3:
            return rnd.choice(["0", "1", "2", "-1", "01", "1x", "abc", "257", "-255", "4294967297"])
        return str(rnd.randint(-2**31, 2**31 - 1))
    if kind == H:
        return rnd.choice(["%d:%02d" % (rnd.randint(-1, 25), rnd.randint(-1, 61)),
                           "%d:%d" % (rnd.randint(0, 23), rnd.randint(0, 9)), "7", " 8 : 30", "x:y"])
    sep = rnd.choice([";", "; ", " ; ", ";;", " "])
    return sep.join(rnd.choice(words) + rnd.choice(["", "  ", " z"]) for _ in range(rnd.randint(1, 4)))


def random_file(rnd):
    lines = []
    for _ in range(rnd.randint(0, 90)):
        name, kind, _ = rnd.choice(KEYS)
        pick = rnd.random()
        if pick < 0.08:
            lines.append(rnd.choice(["no separator", "SpamFoo=1", name + "X=1", "=1", "# " + name + "=1"]))
            continue
        if pick < 0.3:
            name = "".join(c.upper() if rnd.random() < 0.5 else c.lower() for c in name)
        value = "" if rnd.random() < 0.08 else random_value(rnd, kind)
        lines.append(rnd.choice(["", " ", "  "]) + name + rnd.choice(["", " ", "\t", "  "]) + "=" +
                     rnd.choice(["", " ", "   "]) + value + rnd.choice(["", " "]))
    ends = [rnd.choice(["\r\n", "\n", "\r"]) for _ in lines]
    return "".join(l + e for l, e in zip(lines, ends))


def generate(folder, count, seed):
    rnd = random.Random(seed)
    for n in range(count):
        text = random_file(rnd)
        values = {name: default for name, _, default in KEYS}
        read(text, values)
        with open(os.path.join(folder, "%03d.dat" % n), "wb") as f:
            f.write(text.encode("latin-1"))
        with open(os.path.join(folder, "%03d.expected" % n), "wb") as f:
            f.write(write(values))


def check(tool):
    with tempfile.TemporaryDirectory() as folder:
        generate(folder, 500, 20261209)
        subprocess.run([tool, folder], check=True, timeout=120)
        failed = 0
        for n in range(500):
            base = os.path.join(folder, "%03d" % n)
            with open(base + ".expected", "rb") as f:
                expected = f.read()
            with open(base + ".out", "rb") as f:
                got = f.read()
            if got != expected:
                failed += 1
                if failed <= 3:
                    print("%03d differs:\n%r\n%r" % (n, expected, got))
        print("%d passed, %d failed" % (500 - failed, failed))
        return 1 if failed else 0


if __name__ == "__main__":
    if sys.argv[1] == "generate":
        generate(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
        sys.exit(0)
    sys.exit(check(sys.argv[2]))
