#!/usr/bin/env python3
"""The installer plug-in Pellacor.dll as a host uses it: writes an
installation with the records kit (APIConst.inc copied into its root), a
case file for pellacor_host.exe, runs it under Wine and compares every line
it prints with the cases below, written out by hand; the settings file the
host copied after each call is read back here.

    pellacor_test.py registered|unregistered HOST PELLACOR API OUT

registered: Api.dll is registered (the api_registered fixture); every case
runs on a thread without COM, a single-threaded and a multithreaded one,
the stand-in cases on a single-threaded one. unregistered: Api.dll is
unregistered first; both exports then fail.
"""
import os
import shutil
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from records import Settings, put, scramble, settings_record, text, write  # noqa: E402
from wine_com import SOURCE, run, win, wine_env  # noqa: E402

THREADS = ("none", "sta", "mta")
S, B, E = b"%M_KTZ_SETTING%", b"%M_KTZ_BUFFER%", b"%M_ERROR%"
HOST = b"mx.pellacor-one.test"  # 20 characters
DATE = "37626.377858796295"     # 2003-01-05 09:04:07
COM = {"none": "CoInitialize 0 | CoUninitialize", "sta": "CoInitialize 1 | CoUninitialize",
       "mta": "CoInitialize 80010106"}


def esc(data):
    return "".join("\\\\" if c == 0x5C else chr(c) if 0x20 <= c < 0x7F else "\\x%02x" % c for c in data)


def per_thread(value, k):
    return value[k] if isinstance(value, tuple) else value


class Case:
    """A call on a table (capacity, name slot, value slot) of entries; after:
    the table it must leave (a value may be a tuple, one per thread); field:
    (offset, kind, values per thread) to read from the settings file after
    the call."""

    def __init__(self, title, call, entries, after, answer="1", table=(4, 16, 64), threads=THREADS, field=None,
                 standin=None, com=None, fill=0, timeout=120, installdir=None, repeat=1):
        self.__dict__.update(locals())
        del self.__dict__["self"]


def settings_cases():
    text_values = tuple(b"C:\\Mail\x80" + d + b"\\" for d in (b"0", b"1", b"2"))  # "\x80" is the euro in 1252
    return [
        # Reads, from the state the library loaded.
        Case("get-text", "get", [(S, b"config_host_name"), (B, b"old"), (E, b"x")],
             [(S, b"config_host_name"), (B, HOST), (E, b"0")]),
        Case("get-integer-appends", "get", [(S, b"config_pop3_port")],
             [(S, b"config_pop3_port"), (E, b"0"), (B, b"110")]),
        Case("get-negative", "get", [(S, b"config_number29"), (B, b"old"), (E, b"x")],
             [(S, b"config_number29"), (B, b"-1"), (E, b"0")]),
        Case("get-boolean", "get", [(S, b"config_flag34"), (B, b""), (E, b"")],
             [(S, b"config_flag34"), (B, b"1"), (E, b"0")]),
        Case("get-unknown-name", "get", [(S, b"no_such_setting"), (B, b"old"), (E, b"x")],
             [(S, b"no_such_setting"), (B, b""), (E, b"2")]),
        Case("get-no-setting-variable", "get", [(B, b"old"), (E, b"x")], [(B, b""), (E, b"2")]),
        # The host name by its number (the first name of id 0): 20 characters for an 8-byte slot.
        Case("get-result-over-slot", "get", [(S, b"0"), (B, b"old"), (E, b"x")], [(S, b"0"), (B, b"old"), (E, b"2")],
             table=(4, 16, 8)),
        # The setting's name at index 69,999: a 16-bit index would never end.
        Case("get-index-69999", "get", [(S, b"config_pop3_port")], [(S, b"config_pop3_port"), (E, b"0"), (B, b"110")],
             table=(70002, 16, 24), fill=69999, timeout=10),
        # Writes, each thread its own value; the settings file after each.
        Case("set-full-table", "set", [(S, b"config_imap_port"), (B, (b"143", b"144", b"145"))],
             [(S, b"config_imap_port"), (B, (b"143", b"144", b"145"))], table=(2, 16, 24),
             field=(Settings.IMAP_PORT, "<H", (143, 144, 145))),
        Case("set-text", "set", [(S, b"config_mail_folder"), (B, text_values), (E, b"x")],
             [(S, b"config_mail_folder"), (B, text_values), (E, b"0")], field=(Settings.MAIL_FOLDER, "text", text_values)),
        Case("set-integer", "set", [(S, b"config_smtp_port"), (B, (b"110", b"111", b"112")), (E, b"x")],
             [(S, b"config_smtp_port"), (B, (b"110", b"111", b"112")), (E, b"0")],
             field=(Settings.SMTP_PORT, "<H", (110, 111, 112))),
        Case("set-boolean", "set", [(S, b"config_flag35"), (B, (b"1", b"0", b"1")), (E, b"x")],
             [(S, b"config_flag35"), (B, (b"1", b"0", b"1")), (E, b"0")], field=(Settings.FLAG35, "B", (1, 0, 1))),
        # The texts a read gives write back the same bytes.
        Case("get-set-text", "get-set", [(S, b"config_mail_folder"), (B, b"old"), (E, b"x")],
             [(S, b"config_mail_folder"), (B, text_values[2]), (E, b"0")], answer="1 1",
             field=(Settings.MAIL_FOLDER, "text", (text_values[2],) * 3)),
        Case("get-set-negative", "get-set", [(S, b"config_number29"), (B, b"old"), (E, b"x")],
             [(S, b"config_number29"), (B, b"-1"), (E, b"0")], answer="1 1",
             field=(Settings.NUMBER29, "<I", (0xFFFFFFFF,) * 3)),
        Case("get-set-boolean", "get-set", [(S, b"config_flag35"), (B, b"old"), (E, b"x")],
             [(S, b"config_flag35"), (B, b"1"), (E, b"0")], answer="1 1", field=(Settings.FLAG35, "B", (1, 1, 1))),
        # Refused: nothing reaches the file.
        Case("set-value-over-255", "set", [(S, b"config_host_name"), (B, b"h" * 300), (E, b"x")],
             [(S, b"config_host_name"), (B, b"h" * 300), (E, b"2")], table=(4, 16, 320),
             field=(Settings.HOST_NAME, "text", (HOST,) * 3)),
        Case("set-not-a-number", "set", [(S, b"config_smtp_port"), (B, b"abc"), (E, b"x")],
             [(S, b"config_smtp_port"), (B, b"abc"), (E, b"2")], field=(Settings.SMTP_PORT, "<H", (112,) * 3)),
        Case("set-unknown-name", "set", [(S, b"no_such_setting"), (B, b"1"), (E, b"x")],
             [(S, b"no_such_setting"), (B, b"1"), (E, b"2")]),
        Case("set-no-setting-variable", "set", [(B, b"1"), (E, b"x")], [(B, b"1"), (E, b"2")]),
    ]


def standin_cases():
    one = ("sta",)

    def com(*calls):
        return {"sta": " | ".join(("CoInitialize 1",) + calls + ("released", "CoUninitialize"))}

    set_call = 'SetProperty(VT_BSTR "config_host_name", VT_BSTR "Post\\u20ac")'
    entries = [(S, b"config_host_name"), (B, b"Post\x80"), (E, b"x")]
    get_entries = [(S, b"config_number29"), (B, b"old"), (E, b"x")]
    get_call = 'GetProperty(VT_BSTR "config_number29")'
    return [
        Case("standin-set", "set", entries, entries[:2] + [(E, b"0")], threads=one,
             standin="true\ttrue\ttrue\tempty", com=com("Init(null)", set_call, "Save", "Done")),
        Case("standin-init-false", "set", entries, entries[:2] + [(E, b"2")], threads=one,
             standin="false\ttrue\ttrue\tempty", com=com("Init(null)")),
        Case("standin-set-fails", "set", entries, entries[:2] + [(E, b"2")], threads=one,
             standin="true\tE_FAIL\ttrue\tempty", com=com("Init(null)", set_call, "Done")),
        Case("standin-save-false", "set", entries, entries[:2] + [(E, b"2")], threads=one,
             standin="true\ttrue\tfalse\tempty", com=com("Init(null)", set_call, "Save", "Done")),
        Case("standin-value-over-255", "set", [(S, b"config_host_name"), (B, b"v" * 300), (E, b"x")],
             [(S, b"config_host_name"), (B, b"v" * 300), (E, b"2")], table=(4, 16, 320), threads=one,
             standin="true\ttrue\ttrue\tempty", com=com()),
        Case("standin-set-date", "set", [(S, b"d"), (B, b"2003-01-05 09:04:07"), (E, b"x")],
             [(S, b"d"), (B, b"2003-01-05 09:04:07"), (E, b"0")], threads=one, standin="true\tdate\ttrue\tempty",
             com=com("Init(null)", 'SetProperty(VT_BSTR "d", VT_BSTR "2003-01-05 09:04:07" = date %s)' % DATE,
                     "Save", "Done")),
        Case("standin-get-i4", "get", get_entries, [get_entries[0], (B, b"-1"), (E, b"0")], threads=one,
             standin="true\ttrue\ttrue\ti4\t-1", com=com(get_call)),
        Case("standin-get-date", "get", get_entries, [get_entries[0], (B, b"2003-01-05 09:04:07"), (E, b"0")],
             threads=one, standin="true\ttrue\ttrue\tdate\t" + DATE, com=com(get_call)),
        Case("standin-get-euro", "get", get_entries, [get_entries[0], (B, b"\x80"), (E, b"0")], threads=one,
             standin="true\ttrue\ttrue\tbstr\t\\x80", com=com(get_call)),
        Case("standin-get-over-255", "get", get_entries, [get_entries[0], (B, b"old"), (E, b"2")], threads=one,
             standin="true\ttrue\ttrue\tbstr\t" + "w" * 300, com=com(get_call)),
        Case("standin-get-fails", "get", get_entries, [get_entries[0], (B, b""), (E, b"2")], threads=one,
             standin="true\ttrue\ttrue\tE_FAIL", com=com(get_call)),
        Case("standin-no-interface", "get-set", get_entries, [get_entries[0], (B, b"old"), (E, b"1")],
             answer="0 0", threads=one, standin="true\ttrue\ttrue\tno-interface",
             com={"sta": "CoInitialize 1 | released | CoUninitialize | CoInitialize 1 | released | CoUninitialize"}),
    ]


def case_file(cases, out, install):
    lines = []
    for case in cases:
        for k, thread in enumerate(THREADS):
            if thread not in case.threads:
                continue
            lines += ["block\t%s\t%s" % (case.title, thread), "call\t" + case.call, "table\t%d\t%d\t%d" % case.table]
            if case.fill:
                lines.append("fill\t%d" % case.fill)
            lines += ["entry\t%s\t%s" % (esc(n), esc(per_thread(v, k))) for n, v in case.entries]
            if case.standin:
                lines.append("standin\t" + case.standin)
            if case.installdir:
                lines.append("installdir\t" + esc(case.installdir.encode()))
            if case.field:
                lines.append("snapshot\t%s\t%s" % (esc(win(os.path.join(install, "config", "settings.cfg")).encode()),
                                                 esc(win(os.path.join(out, "%s-%s.cfg" % (case.title, thread))).encode())))
            lines += ["timeout\t%d" % case.timeout, "repeat\t%d" % case.repeat, "run"]
    return "\n".join(lines) + "\n"


def expected(case, thread, k):
    table = "".join(" | %s=%s" % (esc(n), esc(per_thread(v, k))) for n, v in case.after)
    count = len(case.after) + case.fill
    line = "%s [%s]: %s apartment %s count %d%s" % (case.title, thread, case.answer, thread, count, table)
    com = (case.com or {}).get(thread)
    if com is None:
        com = " | ".join([COM[thread]] * len(case.answer.split()))
    return [line, "%s [%s] com: %s" % (case.title, thread, com)]


def field_value(path, offset, kind):
    record = scramble(open(path, "rb").read())
    if kind == "text":
        return text(record, offset).encode("latin-1")
    return struct.unpack_from("<" + kind.lstrip("<"), record, offset)[0]


def make(out):
    shutil.rmtree(out, ignore_errors=True)
    install, empty = os.path.join(out, "install"), os.path.join(out, "empty")
    os.makedirs(empty)
    record = settings_record()
    put(record, Settings.HOST_NAME, HOST)
    put(record, Settings.MAIL_FOLDER, "C:\\Mail\\")
    struct.pack_into("<H", record, Settings.POP3_PORT, 110)
    struct.pack_into("<I", record, Settings.NUMBER29, 0xFFFFFFFF)
    record[Settings.FLAG34] = 1
    write(os.path.join(install, "config", "settings.cfg"), scramble(record))
    shutil.copy(os.path.join(SOURCE, "api", "sdk", "APIConst.inc"), install)
    return install, empty


def main(mode, host, pellacor, api, out):
    env = wine_env(host)
    install, empty = make(out)
    root = win(install) + "\\"
    if mode == "registered":
        cases = settings_cases()
        cases[0].installdir = root
        cases += standin_cases()
        # InstallDir at a folder without a settings file: Init answers false.
        cases.append(Case("set-init-false", "set", [(S, b"config_smtp_port"), (B, b"99"), (E, b"x")],
                          [(S, b"config_smtp_port"), (B, b"99"), (E, b"2")], installdir=win(empty) + "\\"))
        # 200 calls in a row, each starting and stopping COM.
        cases.append(Case("repeated", "get-set", [(S, b"config_pop3_port")],
                          [(S, b"config_pop3_port"), (E, b"0"), (B, b"110")], answer="1 1", threads=("none",),
                          installdir=root, repeat=100, timeout=600))
    else:
        code, text_ = run(env, "regsvr32", "/u", "/s", win(api))
        print("regsvr32 /u: %d %s" % (code, text_.strip()))
        entries = [(S, b"config_host_name"), (B, b"old"), (E, b"x")]
        cases = [Case("unregistered", "get-set", entries, entries[:2] + [(E, b"1")], answer="0 0", installdir=root)]
    cases_path = os.path.join(out, "cases.txt")
    with open(cases_path, "w", encoding="latin-1", newline="\n") as f:
        f.write(case_file(cases, out, install))
    code, transcript = run(env, host, win(pellacor), win(cases_path), timeout=1800)
    got = transcript.splitlines()
    print(transcript)

    want = ["strings: 112=M_ERROR 114=M_KTZ_SETTING 115=M_KTZ_BUFFER", "null table: 0 0"]
    problems = []
    for case in cases:
        for k, thread in enumerate(THREADS):
            if thread in case.threads:
                want += expected(case, thread, k)
                if case.repeat > 1:
                    want.append(None)  # the measurement line, checked below
    want.append("done")
    for number, (g, w) in enumerate(zip(got, want), 1):
        if w is None:
            problems += check_repeated(g, cases[-1])
        elif g != w:
            problems.append("line %d: %r\n  expected %r" % (number, g, w))
    if len(got) != len(want):
        problems.append("%d lines, expected %d (exit status %d)" % (len(got), len(want), code))
    for case in cases:
        for k, thread in enumerate(THREADS):
            if case.field and thread in case.threads:
                offset, kind, values = case.field
                path = os.path.join(out, "%s-%s.cfg" % (case.title, thread))
                value = field_value(path, offset, kind) if os.path.exists(path) else "no settings file"
                if value != values[k]:
                    problems.append("%s [%s]: settings.cfg at %d holds %r, expected %r" %
                                    (case.title, thread, offset, value, values[k]))
    if os.listdir(empty):
        problems.append("the folder without settings was written: %r" % os.listdir(empty))
    for line in problems:
        print(line)
    print("pellacor %s: %s" % (mode, "as expected" if not problems else "%d problem(s)" % len(problems)))
    return 1 if problems else 0


def check_repeated(line, case):
    """Every call answered alike, and after the 10th call the open handles
    stay within 5 and the heap bytes in use within 2 MB."""
    prefix = "%s [none] measured: " % case.title
    try:
        assert line.startswith(prefix)
        rounds, handles, heap = line[len(prefix):].split(", ")
        assert rounds == "%s M_ERROR 0 x%d" % (case.answer, case.repeat), rounds
        h10, h200 = map(int, handles.split()[1:])
        m10, m200 = map(int, heap.split()[2:])
        assert abs(h200 - h10) <= 5, "handles %d after the 10th call, %d at the end" % (h10, h200)
        assert abs(m200 - m10) <= 2 * 1024 * 1024, "heap bytes %d after the 10th call, %d at the end" % (m10, m200)
    except (AssertionError, ValueError) as e:
        return ["repeated calls: %r: %s" % (line, e)]
    return []


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], *[os.path.abspath(a) for a in sys.argv[2:6]]))
