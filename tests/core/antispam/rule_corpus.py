#!/usr/bin/env python3
"""The rule reader against the independent model tests/support/sa_rules.py.

rule_corpus.py TOOL CORPUS WORK

TOOL is rules_tool (natively) or rules_tool.exe (run under Wine, the pattern
library stand-in beside it); CORPUS the copied rules folder, with its package
version in CORPUS.version; WORK a scratch folder. One process of the tool
loads, in turn: the corpus, the same again without the change check, the
same with the check (nothing may compile), the sending library's reader on
the corpus, the corpus with one file whose reads fail and then again with
that file readable, and a folder of malformed files. After
each load its dump must equal the model's; at the end the library's log must
hold the model's compile lines in order, one free for every handle, nothing
freed twice and no match call.
"""
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
import sa_rules  # noqa: E402

# What an independent reading of the package found.
KNOWN = {
    "4.0.1-1~deb12u1": {
        "files": 61, "rules": 2828, "compiles": 1439,
        "flags": {256: 481, 257: 810, 260: 64, 261: 43, 264: 7, 265: 3, 268: 2, 269: 29},
        "dropped": 96, "dropped_uri": 90, "redefinitions": 147, "required_hits": 3.0,
    },
}

FAILING = "20_drugs.cf"


def malformed(folder):
    """Hostile and edge-case rule files."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "Custom", "sub"))
    n40 = "N" * 40

    def put(name, data):
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("latin-1"))

    put("10_cases.cf", "\n".join([
        "header H_I Subject =~ /free/i", "body B_S m{a/b}s", "uri U_1 /x\\.com/", "header M_1 MESSAGEID =~ /^<x/",
        "header N_1 From !~ /a/ [if-unset: none]", "header N_2 From =~ /a/ [if-unset: rest of it",
        "body R_1 /x/ # mine is", "body\tC_1\t/a\t\tb  c/", "body BAD1 /abc", "body BAD2 m{abc", "body BAD3 m/abc/",
        "body BAD4", "Body LOWER /a/", "header E_1 exists:X-Spam:junk", "header V_1 eval:check(a, (b))",
        "body V_2 eval:f", "body V_3 eval:g)x(", "body V_4 eval:h(a", "meta T_M (A && B)", "score T_M", "meta",
        "score EARLY 2", "body EARLY /e/", "body S_R /a/", "score S_R 5", "body S_R /b/", "body FOUR /f/",
        "score FOUR 1 2 3 4", "score FOUR2 1", "body COMMA /c/", "score COMMA 1,5", "   # body HASHED /a/",
        "body %s /a/" % n40, "body %s /b/" % n40, "score %s 5" % n40, "describe %s long" % n40,
        "describe S_R  a   spaced\ttext that runs on well beyond the fifty characters kept", "body H_4 /a/",
        "body H_4 /b", "uridnsbl L_1 dnsbl.example. TXT", "urirhssub L_2 multi.example. A 2",
        "blacklist_from A@X.com", "whitelist_from a@x.com b@Y", "unwhitelist_from A@x.COM",
        "trusted_networks 10/8 172.16/12 192.168. 172.16.0.0/12 1.2.3.4.5/8", "ok_locales ja", "ok_locales en",
        "add_header spam Flag YES it is", "add_header all Level _STARS_", "remove_header all Level",
        "report \"", "report \"quoted\"", "report plain  text", "report_contact me@x", "dns_available maybe",
        "use_bayes 0", "use_surbl 1", "required_hits 5,5", "rbl_timeout 0x1F", "subject_tag [SPAM]  x",
        "report_safe 2", "required_score 9", "lang de body X /x/", "ifplugin Mail::X",
    ]) + "\n")
    put("20_bom.cf", b"\xEF\xBB\xBFbody BOM /a/\r\nbody AFTER_BOM /b/\r\n")
    put("30_nul.cf", b"body NUL1 /a\x00b/\nbody N\x00UL2 /c/\n\x00body NUL3 /d/\nscore NUL1 3\x00\n")
    put("40_cr.cf", "body CR1 /a/\rbody CR2 /b/i\r\rscore CR1 2\rscore CR2 3")
    put("50_big.cf", "body BIG /" + "a" * (1 << 20) + "/\n" + "score " + " " * (1 << 20) + "BIG 4\n" + "/" * (1 << 20)
        + "\nbody AFTER_BIG /z/\n")
    put("x.cf", "body NOT_NUMBERED /a/\n")
    put("Custom/mine", "score B_S 7\nbody CUSTOM /c/m\n")
    put("local.cf", "score H_I 0.001\nscore U_1 -1.25\nbody S_R m{zz}\nclear_report_template\nreport last\n")


class Tool:
    def __init__(self, tool, env):
        self.wine = tool.endswith(".exe")
        command = [os.path.join(ROOT, "scripts", "wine-run.sh"), tool] if self.wine else [tool]
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env, text=True)

    def path(self, host):
        return "Z:" + host.replace("/", "\\") if self.wine else host

    def __call__(self, *words):
        line = " ".join(words)
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().strip()
        if answer != "ok":
            raise RuntimeError("%s: %r" % (line, answer))

    def close(self):
        self.proc.stdin.write("quit\n")
        self.proc.stdin.close()
        self.proc.wait(timeout=60)


def main():
    tool, corpus, work = sys.argv[1:4]
    os.makedirs(work, exist_ok=True)
    log = os.path.join(work, "regex.log")
    if os.path.exists(log):
        os.remove(log)
    env = dict(os.environ, REGEX_STANDIN_LOG=log)
    env.pop("REGEX_STANDIN_REFUSE", None)
    bad = os.path.join(work, "malformed")
    malformed(bad)
    with open(corpus + ".version") as f:
        version = f.read().strip()

    failures = []
    expected_compiles = []
    handle = [4096]

    def model(folder, **options):
        reader = sa_rules.Reader(sender=options.pop("sender", False))
        reader.next_handle = handle[0]
        reader.load(folder, **options)
        handle[0] = reader.next_handle
        expected_compiles.extend(sa_rules.compile_lines(reader))
        return reader

    def compare(what, dump_file, reader):
        with open(dump_file, encoding="latin-1") as f:
            got = f.read()
        want = sa_rules.dump(reader)
        if got != want:
            g, w = got.splitlines(), want.splitlines()
            first = next((i for i in range(min(len(g), len(w))) if g[i] != w[i]), min(len(g), len(w)))
            failures.append("%s: line %d\n  got  %s\n  want %s" % (
                what, first + 1, g[first][:300] if first < len(g) else "<end>",
                w[first][:300] if first < len(w) else "<end>"))

    run = Tool(tool, env)
    dump = os.path.join(work, "dump.txt")
    started = time.monotonic()

    run("load", run.path(corpus), "check")
    run("dump", run.path(dump))
    first = model(corpus)
    compare("corpus", dump, first)
    if version in KNOWN and sa_rules.counts(first) != KNOWN[version]:
        failures.append("counts of %s: %s" % (version, sa_rules.counts(first)))

    run("load", run.path(corpus), "nocheck")
    run("dump", run.path(dump))
    compare("corpus reloaded", dump, model(corpus))
    before = os.path.getsize(log)
    run("load", run.path(corpus), "check")
    if os.path.getsize(log) != before:
        failures.append("an unchanged rules folder compiled again")

    run("load", run.path(corpus), "check", "sender")
    run("dump", run.path(dump), "sender")
    compare("corpus, sending library", dump, model(corpus, sender=True))

    # A file whose reads fail after the open (as a byte range another
    # process holds locked would make them fail on Windows; Wine's locks do
    # not stop reads): the other files load, and the next load is not
    # skipped by the change check.
    failing = os.path.join(work, "failing")
    shutil.rmtree(failing, ignore_errors=True)
    shutil.copytree(corpus, failing)
    os.remove(os.path.join(failing, FAILING))
    os.symlink("/proc/self/mem", os.path.join(failing, FAILING))
    run("load", run.path(failing), "check")
    run("dump", run.path(dump))
    compare("corpus, one file failing", dump, model(corpus, without=[FAILING]))
    os.remove(os.path.join(failing, FAILING))
    shutil.copy2(os.path.join(corpus, FAILING), failing)
    run("load", run.path(failing), "check")
    run("dump", run.path(dump))
    compare("corpus, the failing file readable again", dump, model(corpus))

    bad_started = time.monotonic()
    run("load", run.path(bad), "nocheck")
    run("dump", run.path(dump))
    if time.monotonic() - bad_started > 30:
        failures.append("malformed files took %.1f s" % (time.monotonic() - bad_started))
    compare("malformed files", dump, model(bad))
    run("unload")
    run("unload", "sender")
    run.close()

    with open(log, encoding="latin-1") as f:
        lines = [line.rstrip("\n") for line in f]
    compiles = [line for line in lines if line.startswith("C ")]
    if compiles != expected_compiles:
        at = next((i for i in range(min(len(compiles), len(expected_compiles)))
                   if compiles[i] != expected_compiles[i]), min(len(compiles), len(expected_compiles)))
        failures.append("compile %d of %d/%d: got %s want %s" % (
            at + 1, len(compiles), len(expected_compiles), compiles[at][:200] if at < len(compiles) else "<end>",
            expected_compiles[at][:200] if at < len(expected_compiles) else "<end>"))
    freed = {}
    for line in lines:
        if line.startswith("F "):
            freed[line[2:]] = freed.get(line[2:], 0) + 1
    handles = [line.split(" ")[1] for line in compiles]
    unfreed = [h for h in handles if freed.get(h, 0) != 1]
    others = [line for line in lines if line[:2] in ("E ", "X") or line == "X"]
    if unfreed or others or len(freed) != len(handles):
        failures.append("handles: %d not freed once, %d freed, %d compiled, other lines %s" % (
            len(unfreed), len(freed), len(handles), others[:3]))

    for failure in failures:
        print("FAIL", failure)
    print("version %s: %d loads checked in %.1f s, %d compiles, %s" % (
        version, 7, time.monotonic() - started, len(compiles), "failed" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
