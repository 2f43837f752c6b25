#!/usr/bin/env python3
"""Independent model of the rule-file reader: a rules folder read into the
rule table and the rule settings, with every pattern handed to the outside
pattern library.

Written from the description of the rule-file format and of the reader
alone. Texts are handled as bytes (decoded as Latin-1, one character per
byte). The pattern library is the test stand-in: the k-th successful compile
of a process answers the handle 4096 + 16 k, and it sees a pattern up to its
first zero byte.

    sa_rules.py dump FOLDER [--sender] [--skip-custom] [--without NAME]
        prints the table and settings in the dump form of rules_tool, then
        the stand-in's compile lines ("C handle flags hex") and the counts.
"""
import os
import struct
import sys

NAME_LENGTH = 32
DESCRIPTION_LENGTH = 50
SHORT = 255

# Language code -> charset names, blank-separated ("" for none).
CYRILLIC = "KOI8R KOI8U KOI8T ISOIR111 CP1251 GEORGIANPS CP1251 PT154 CP866"
LOCALES = [
    ("en", ""),
    ("ja", "EUCJP JISX020119760 JISX020819830 JISX020819900 JISX020819970 JISX021219900 JISX021320001 "
           "JISX021320002 SHIFT_JIS SHIFTJIS ISO2022JP SJIS JIS7 JISX0201 JISX0208 JISX0212"),
    ("ko", "EUCKR KSC56011987"),
    ("th", "TIS620"),
    ("zh", "GB1988 GB2312 GB23121980 GB18030 GBK BIG5HKSCS BIG5 EUCTW ISO2022CN"),
    ("ru", CYRILLIC), ("ka", CYRILLIC), ("tg", CYRILLIC), ("be", CYRILLIC), ("uk", CYRILLIC), ("bg", CYRILLIC),
]


def lower(text):
    return "".join(chr(ord(c) + 32) if "A" <= c <= "Z" else c for c in text)


def trim(text):
    """Every character of code 32 or below removed at both ends."""
    start, end = 0, len(text)
    while start < end and ord(text[start]) <= 32:
        start += 1
    while end > start and ord(text[end - 1]) <= 32:
        end -= 1
    return text[start:end]


def text_to_int(text):
    """Blanks, one sign, "$"/"x"/"0x" for hexadecimal, digits up to the first
    other character in a signed 64-bit value; the low 32 bits, signed."""
    i = 0
    while i < len(text) and text[i] == " ":
        i += 1
    negative = False
    if i < len(text) and text[i] in "+-":
        negative = text[i] == "-"
        i += 1
    base = 10
    if text[i:i + 2] in ("0x", "0X"):
        base, i = 16, i + 2
    elif text[i:i + 1] in ("$", "x", "X"):
        base, i = 16, i + 1
    digits = "0123456789abcdef"[:base]
    value = 0
    while i < len(text) and text[i].lower() in digits:
        nxt = value * base + digits.index(text[i].lower())
        if nxt > 0x7FFFFFFFFFFFFFFF:
            break
        value = nxt
        i += 1
    if negative:
        value = -value
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value >= 1 << 31 else value


def text_to_float(text):
    """The integer part before the first "." (else the first ","), as an
    unsigned 32-bit value, plus the characters after it read as an integer
    over "1" followed by as many zeros as there are such characters."""
    if text == "":
        return 0.0
    negative = text[0] == "-"
    if negative:
        text = text[1:]
    sep = text.find(".")
    if sep < 0:
        sep = text.find(",")
    if sep < 0:
        sep = len(text)
    result = float(text_to_int(text[:sep]) & 0xFFFFFFFF)
    after = text[sep + 1:]
    if after:
        # Only fractions of at most nine characters are used here: both
        # readings then fit their unsigned 32 bits.
        assert len(after) <= 9, text
        numerator = text_to_int(after) & 0xFFFFFFFF
        divisor = text_to_int("1" + "0" * len(after)) & 0xFFFFFFFF
        result += numerator / divisor
    return -result if negative else result


def words(line):
    return line.split(" ") if line else []


def word(line, index, with_rest=False):
    parts = words(line)
    if index >= len(parts):
        return ""
    return " ".join(parts[index:]) if with_rest else parts[index]


class Rule:
    def __init__(self, name):
        self.name = name
        self.description = ""
        self.kind = 0
        self.multi = False
        self.scores = [0.0] * 4
        self.text = ""
        self.list_name = ""
        self.list_kind = 0
        self.test_type = 0
        self.pattern = 0
        self.flags = 0
        self.header = ""
        self.argument = ""
        self.negate = False


class Reader:
    def __init__(self, sender=False):
        self.sender = sender
        self.rules = []
        self.next_handle = 4096
        self.compiles = []  # (handle, flags, pattern as the library sees it)
        self.files = 0
        self.dropped = {}  # kind -> new rules dropped
        self.redefinitions = 0
        self.clear()

    def clear(self):
        self.rules = []
        self.index = {}  # stored name -> its first entry
        self.required_hits = 0.0
        self.use_bayes = not self.sender
        self.fold_headers = False
        self.subject_tag = ""
        self.rewrite_subject = False
        self.report_safe = 0
        self.bayes_auto_learn = False
        self.report_contact = ""
        self.rbl_timeout = 0
        self.skip_rbl_check = False
        self.dns_available = False
        self.use_spf = False
        self.use_surbl = not self.sender
        self.add_headers = []  # [kind, name, text, removed]
        self.trusted = []
        self.charsets = []
        self.addresses = []  # [list kind, direction, address, removed]
        self.report_template = ""

    # The outside library.
    def compile(self, pattern, flags):
        seen = pattern.split("\0")[0]
        self.next_handle += 16
        self.compiles.append((self.next_handle, flags, seen))
        return self.next_handle

    def find(self, name):
        return self.index.get(name, -1)

    # Loading a folder.
    def load(self, folder, skip_custom=False, without=()):
        self.clear()
        for digit in "123456789":
            self.load_files(folder, lambda n, d=digit: n[:1] == d and lower(n).endswith(".cf"), without)
        if not skip_custom:
            self.load_files(os.path.join(folder, "Custom"), lambda n: True, without)
        self.load_files(folder, lambda n: lower(n) == "local.cf", without)
        if self.required_hits == 0:
            self.required_hits = 3.0
        if self.subject_tag == "":
            self.subject_tag = "*****SPAM*****"
        if self.rbl_timeout == 0:
            self.rbl_timeout = 15

    def load_files(self, folder, wanted, without):
        try:
            names = os.listdir(folder)
        except OSError:
            return
        # In the order of an NTFS listing: upper-cased names.
        for name in sorted((n for n in names if wanted(n)), key=lambda n: n.upper()):
            path = os.path.join(folder, name)
            if not os.path.isfile(path) or name in without:
                continue
            with open(path, "rb") as f:
                data = f.read().decode("latin-1")
            self.files += 1
            for line in data.replace("\r\n", "\n").replace("\r", "\n").split("\n"):
                line = trim(line)
                if line and line[0] != "#":
                    self.parse_line(line)

    def parse_line(self, line):
        line = line.replace("\t", " ")
        while "  " in line:
            line = line.replace("  ", " ")
        line = line.strip(" ")
        keyword = word(line, 0)[:SHORT]
        first = word(line, 1)[:SHORT]
        rest = word(line, 2, True)
        kinds = {"full": 0, "header": 1, "body": 2, "uri": 3, "rawbody": 4, "meta": 5}
        lists = {"uridnsbl": 1, "urirhsbl": 2, "urirhssub": 3}
        addresses = {
            "whitelist_from": (1, 1, False), "unwhitelist_from": (1, 1, True),
            "blacklist_from": (0, 1, False), "unblacklist_from": (0, 1, True),
            "whitelist_to": (1, 0, False), "more_spam_to": (2, 0, False),
            "all_spam_to": (3, 0, False), "blacklist_to": (0, 0, False),
        }
        yes = text_to_int(first) == 1
        if keyword in kinds:
            self.rule_test(kinds[keyword], first, rest, 0)
        elif keyword in lists:
            if not self.sender:
                self.rule_test(5, first, rest, lists[keyword])
        elif keyword in addresses:
            kind, direction, remove = addresses[keyword]
            for address in words(line)[1:]:
                address = lower(address[:SHORT])
                if not remove:
                    self.addresses.append([kind, direction, address, False])
                for entry in self.addresses:
                    if remove and entry[:3] == [kind, direction, address]:
                        entry[3] = True
        elif keyword == "describe":
            at = self.find(first)
            if at >= 0:
                self.rules[at].description = trim(word(line, 2, True))[:DESCRIPTION_LENGTH]
        elif keyword == "score":
            self.score(first, rest)
        elif keyword == "required_hits":
            self.required_hits = text_to_float(first)
        elif keyword == "use_bayes":
            self.use_bayes = yes
        elif keyword == "fold_headers":
            self.fold_headers = yes
        elif keyword == "subject_tag":
            self.subject_tag = word(line, 1, True)
        elif keyword == "rewrite_subject":
            self.rewrite_subject = yes
        elif keyword == "report_safe":
            self.report_safe = text_to_int(first)
        elif keyword == "bayes_auto_learn":
            self.bayes_auto_learn = yes
        elif keyword == "ok_locales":
            self.ok_locales(line)
        elif keyword == "dns_available":
            self.dns_available = first != "no"
        elif keyword == "skip_rbl_check":
            self.skip_rbl_check = yes
        elif keyword == "rbl_timeout":
            self.rbl_timeout = text_to_int(first)
        elif keyword == "use_spf":
            self.use_spf = yes
        elif keyword == "use_surbl":
            self.use_surbl = yes
        elif keyword == "clear_headers":
            self.add_headers = []
        elif keyword in ("add_header", "remove_header"):
            kind = {"spam": 0, "ham": 1}.get(word(line, 1), 2)
            name = word(line, 2)
            if keyword == "add_header":
                self.add_headers.append([kind, name, word(line, 3, True), False])
            for entry in self.add_headers:
                if keyword == "remove_header" and entry[0] == kind and entry[1] == name:
                    entry[3] = True
        elif keyword == "clear_trusted_networks":
            self.trusted = []
        elif keyword == "trusted_networks":
            for network in words(line)[1:]:
                dots = network.count(".")
                if "/" in network and dots != 3:
                    network = network[:network.index("/")] + "."
                    dots += 1
                if network.endswith(".") and 1 <= dots <= 3:
                    network += ".".join(["*"] * (4 - dots))
                self.trusted.append(network)
        elif keyword == "clear_report_template":
            self.report_template = ""
        elif keyword == "report_contact":
            self.report_contact = first
        elif keyword == "report":
            text = trim(word(line, 1, True))
            if text.startswith('"'):
                text = text[1:-1]
            self.report_template += text + "\r\n"

    def ok_locales(self, line):
        self.charsets = []
        for code in words(line)[1:]:
            code = lower(code)
            if code == "all":
                self.charsets = []
                return
            for language, names in LOCALES:
                if language == code:
                    self.charsets += [lower(n) for n in names.split(" ")] if names else [""]

    def score(self, name, text):
        at = self.find(name)
        if at < 0:
            return
        rule = self.rules[at]
        rule.multi = " " in text
        parts = words(text) + ["", "", "", ""]
        first = parts[0] or ("0.01" if name.startswith("T_") else "1.0")
        rule.scores[0] = text_to_float(first)
        for i in (1, 2, 3):
            rule.scores[i] = text_to_float(parts[i]) if rule.multi else rule.scores[0]

    def rule_test(self, kind, name, test, list_kind):
        if name == "":
            return  # a rule nothing could refer to
        at = self.find(name)
        new = at < 0
        if new:
            rule = Rule(name[:NAME_LENGTH])
            self.rules.append(rule)
            self.index.setdefault(rule.name, len(self.rules) - 1)
        else:
            # The old test goes entirely, its compiled pattern freed.
            self.redefinitions += 1
            rule = self.rules[at]
            rule.test_type = rule.pattern = rule.flags = rule.list_kind = 0
            rule.header = rule.argument = rule.list_name = ""
            rule.negate = False
        rule.kind = kind
        rule.text = test
        rule.scores = [1.0] * 4

        mark = False
        unset = "[if-unset: "
        if kind == 1 and not test.startswith("exists:") and not test.startswith("eval:"):
            rule.header = word(test, 0)[:SHORT]
            mark = rule.header == "MESSAGEID"
            op = word(test, 1)
            if op == "=~":
                rule.negate = False
            elif op == "!~":
                rule.negate = True
            if unset in test:
                value = test[test.index(unset) + len(unset):]
                if "]" in value:
                    value = value[:value.index("]")]
                rule.argument = trim(value)[:SHORT]
            test = word(test, 2, True)
            if unset in test:
                test = trim(test[:test.index(unset)])
        if kind == 3:
            mark = True

        valid = True
        if list_kind:
            rule.list_kind = list_kind
            rule.list_name = test[:NAME_LENGTH]
            rule.test_type = 3
        elif test == "":
            valid = False
        elif test.startswith("exists:"):
            rule.test_type = 2
            rule.header = test[len("exists:"):].split(":")[0][:SHORT]
        elif test.startswith("eval:"):
            rule.test_type = 3
            after = test[len("eval:"):]
            opened = after.find("(")
            closed = after.rfind(")")
            rule.header = (after if opened < 0 else after[:opened])[:SHORT]
            rule.argument = after[opened + 1:closed][:SHORT] if 0 <= opened < closed else ""
        elif test.startswith("/") or test.startswith("m{"):
            opening = 1 if test[0] == "/" else 2
            closing = test.rfind("/" if test[0] == "/" else "}")
            if closing < opening:
                valid = False  # the only delimiter is the opening one
            else:
                pattern = trim(test[opening:closing])
                modifiers = test[closing + 1:]
                rule.text = "/" + pattern + "/" + modifiers
                flags = 256
                if "i" in modifiers:
                    flags |= 1
                if "s" in modifiers:
                    flags |= 8
                if "m" in modifiers or mark:
                    flags |= 4
                rule.test_type = 1
                rule.flags = flags
                rule.pattern = self.compile(pattern, flags)
                valid = rule.pattern != 0
        else:
            valid = False

        if new and kind != 5 and (not valid or rule.test_type == 0):
            self.rules.pop()
            if self.index.get(rule.name) == len(self.rules):
                del self.index[rule.name]
            self.dropped[kind] = self.dropped.get(kind, 0) + 1


def escape(text):
    """Bytes 32 and below, 127 and above, and the backslash as \\xHH."""
    return "".join("\\x%02X" % ord(c) if ord(c) <= 32 or ord(c) >= 127 or c == "\\" else c for c in text)


def bits(value):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", value))[0]


def dump(reader, host="", list_text="", list_byte=0):
    """The dump form shared with rules_tool: settings, then one line per rule."""
    r = reader
    out = [
        "required_hits %s" % bits(r.required_hits),
        "use_bayes %d fold_headers %d rewrite_subject %d report_safe %d bayes_auto_learn %d" % (
            r.use_bayes, r.fold_headers, r.rewrite_subject, r.report_safe, r.bayes_auto_learn),
        "subject_tag %s" % escape(r.subject_tag),
        "report_contact %s" % escape(r.report_contact),
        "rbl_timeout %d skip_rbl_check %d dns_available %d use_spf %d use_surbl %d" % (
            r.rbl_timeout, r.skip_rbl_check, r.dns_available, r.use_spf, r.use_surbl),
    ]
    out += ["add_header %d %d %s %s" % (k, removed, escape(n), escape(t)) for k, n, t, removed in r.add_headers]
    out += ["trusted %s" % escape(t) for t in r.trusted]
    out += ["charset %s" % escape(c) for c in r.charsets]
    out += ["address %d %d %d %s" % (k, d, removed, escape(a)) for k, d, a, removed in r.addresses]
    out += ["host %s" % escape(host), "report_template %s" % escape(r.report_template),
            "list_text %s list_byte %d" % (escape(list_text), list_byte), "rules %d" % len(r.rules)]
    for rule in r.rules:
        out.append("rule %s kind=%d multi=%d scores=%s type=%d pattern=%d flags=%d negate=%d list=%d:%s "
                   "header=%s argument=%s text=%s description=%s" % (
                       escape(rule.name), rule.kind, rule.multi, ",".join(bits(s) for s in rule.scores),
                       rule.test_type, rule.pattern, rule.flags, rule.negate, rule.list_kind,
                       escape(rule.list_name), escape(rule.header), escape(rule.argument), escape(rule.text),
                       escape(rule.description)))
    return "\n".join(out) + "\n"


def compile_lines(reader):
    return ["C %d %d %s" % (h, f, p.encode("latin-1").hex().upper()) for h, f, p in reader.compiles]


def counts(reader):
    flags = {}
    for _, f, _ in reader.compiles:
        flags[f] = flags.get(f, 0) + 1
    return {
        "files": reader.files, "rules": len(reader.rules), "compiles": len(reader.compiles),
        "flags": dict(sorted(flags.items())), "dropped": sum(reader.dropped.values()),
        "dropped_uri": reader.dropped.get(3, 0), "redefinitions": reader.redefinitions,
        "required_hits": reader.required_hits,
    }


def main(argv):
    if len(argv) < 3 or argv[1] != "dump":
        print(__doc__)
        return 2
    reader = Reader(sender="--sender" in argv)
    without = [argv[i + 1] for i, a in enumerate(argv) if a == "--without"]
    reader.load(argv[2], skip_custom="--skip-custom" in argv, without=without)
    sys.stdout.write(dump(reader))
    sys.stdout.write("\n".join(compile_lines(reader)) + "\n")
    print(counts(reader))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
