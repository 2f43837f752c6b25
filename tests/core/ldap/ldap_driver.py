#!/usr/bin/python3
"""Directory synchronisation and the LDAP bind against a real slapd: feeds
ldap_probe (under Wine) commands and, after each, compares the directory
(ldapsearch) with a model of what it must hold and slapd's stats log with
the operations that must have arrived.
    ldap_driver.py PROBE SLAPD_DIR WORK_DIR"""
import base64
import os
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "support"))
from records import Settings, domain_entry, put, scramble, settings_record  # noqa: E402

ROOT = os.path.normpath(os.path.join(HERE, "..", "..", ".."))
probe_exe, slapd_dir, work = sys.argv[1:4]
info = dict(line.strip().split("=", 1) for line in open(os.path.join(slapd_dir, "slapd.info")))
PORT, SUFFIX, ROOTDN, ROOTPW = int(info["port"]), info["suffix"], info["rootdn"], info["rootpw"]
URL = f"ldap://127.0.0.1:{PORT}"
BASE = "ou=example.test," + SUFFIX
DOMAINS = ["example.test"] + [f"d{i}.test" for i in range(8)]


def check(condition, message):
    if not condition:
        sys.exit(f"FAIL: {message}")


def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


# ---- The installation, written without the library's code ------------------

install = os.path.join(work, "install")
config = os.path.join(install, "config")


def winpath(path):
    return "Z:" + path.replace("/", "\\") + "\\"


def write_settings(port):
    b = settings_record(len(DOMAINS))
    b[Settings.STORAGE_MODE] = 1
    b[Settings.DIRECTORY_SYNC] = b[Settings.DIRECTORY_CONFIGURED] = 1
    b[Settings.LDAP_SERVER] = 1
    put(b, Settings.SERVER_LIST, "127.0.0.1;ignored")
    struct.pack_into("<H", b, Settings.LDAP_PORT, port)
    with open(os.path.join(config, "settings.cfg"), "wb") as f:
        f.write(scramble(b))


def write_slapd_conf(password, user_suffix=f"ou=%s,{SUFFIX}"):
    os.makedirs(os.path.join(install, "ldap"), exist_ok=True)
    with open(os.path.join(install, "ldap", "slapd.conf"), "w", encoding="utf-8") as f:
        f.write(f'suffix "{SUFFIX}"\nUserSuffix\t"{user_suffix}"\nrootdn "{ROOTDN}"\nROOTPW  {password}\n')


shutil.rmtree(work, ignore_errors=True)
os.makedirs(config)
with open(os.path.join(config, "domains.cfg"), "wb") as f:
    for name in DOMAINS:
        f.write(domain_entry(name))
write_settings(PORT)

# ---- Directory and log ---------------------------------------------------------


def ldap_tool(tool, ldif):
    done = subprocess.run([tool, "-x", "-H", URL, "-D", ROOTDN, "-w", ROOTPW], input=ldif.encode("utf-8"),
                          capture_output=True)
    check(done.returncode == 0, f"{tool}: {done.stderr.decode()}")


def unescape(value):
    """An RFC 4514 value as text: "\\XX" is one byte, "\\c" is c."""
    return re.sub(rb"\\([0-9A-Fa-f]{2}|.)", lambda m: bytes([int(m[1], 16)]) if len(m[1]) == 2 else m[1],
                  value.encode()).decode()


def directory(base=BASE):
    """{name value: {attribute: sorted values}} of the inetOrgPerson entries under base."""
    out = subprocess.run(["ldapsearch", "-x", "-LLL", "-o", "ldif-wrap=no", "-H", URL, "-b", base,
                          "(objectClass=inetOrgPerson)", "objectClass", "cn", "givenName", "sn", "mail"], capture_output=True)
    check(out.returncode in (0, 32), out.stderr.decode())
    entries = {}
    for block in out.stdout.decode("utf-8").split("\n\n"):
        attrs = {}
        for line in block.splitlines():
            name, _, value = line.partition(":")
            value = base64.b64decode(value[2:]).decode("utf-8") if value.startswith(":") else value[1:]
            attrs.setdefault(name, []).append(value)
        if "dn" not in attrs:
            continue
        # Split at the commas that are not escaped.
        rdns = [r.replace("\0", "\\\\") for r in re.split(r"(?<!\\),", attrs.pop("dn")[0].replace("\\\\", "\0"))]
        check(",".join(rdns[1:]).lower() == base.lower() and rdns[0][:3].lower() == "cn=", f"entry misplaced: {rdns}")
        entries[unescape(rdns[0][3:])] = {k: sorted(v) for k, v in attrs.items()}
    return entries


class StatsLog:
    """The operations slapd logged since the last call, for connections that
    bound with a name (ldapsearch binds anonymously)."""

    def __init__(self):
        self.path = os.path.join(slapd_dir, "slapd.log")
        self.mark = os.path.getsize(self.path)

    def ops(self, settle=3.0):
        deadline = time.time() + settle
        while True:
            with open(self.path, "rb") as f:
                f.seek(self.mark)
                text = f.read().decode("utf-8", "replace")
            opened = set(re.findall(r"conn=(\d+) fd=\d+ ACCEPT", text))
            closed = set(re.findall(r"conn=(\d+) fd=\d+ closed", text))
            if opened <= closed or time.time() > deadline:
                break
            time.sleep(0.05)
        self.mark += len(text.encode("utf-8"))
        requests, results, named = [], {}, set()
        # A bind logs a second line with its mechanism; one with a malformed
        # name logs only that name.
        lines = "\n".join(line for line in text.splitlines() if " mech=" not in line)
        lines = re.sub(r"do_bind: invalid dn \((.*)\)", r'BIND dn="\1"', lines)
        for conn, op, kind, dn in re.findall(r'conn=(\d+) op=(\d+) (BIND|ADD|MOD|DEL) dn="(.*)"', lines):
            requests.append((conn, op, kind, dn))
            if kind == "BIND" and dn:
                named.add(conn)
        for conn, op, err in re.findall(r"conn=(\d+) op=(\d+) RESULT tag=\d+ err=(\d+)", text):
            results[(conn, op)] = int(err)
        return [(kind, dn.lower(), results.get((conn, op))) for conn, op, kind, dn in requests if conn in named]


# ---- The model -----------------------------------------------------------------


def dedupe(values):
    seen, out = set(), []
    for v in values:
        key = " ".join(w for w in v.strip().split(" ") if w).lower()
        if key not in seen:
            seen.add(key)
            out.append(v)
    return out


def person(aliases, name, domain="example.test", classes=("inetOrgPerson",)):
    first = aliases.split(";")[0]
    rdn = first + "@" + domain
    name = name.split(";")[0].strip(" ")
    words = [w for w in name.split(" ") if w]
    given = words[0] if words else first.strip(" ")
    surname = " ".join(words[1:])
    if not surname:
        surname, given = given, ""
    name = name or surname
    mails = []
    for alias in aliases.split(";"):
        alias = " ".join(w for w in alias.split(" ") if w)
        if not alias:
            break
        if (alias + domain).isascii():  # mail holds IA5 text only
            mails.append(alias + "@" + domain)
    attrs = {"objectClass": sorted(classes), "cn": sorted(dedupe([name, rdn])), "sn": [surname]}
    if mails:
        attrs["mail"] = sorted(dedupe(mails))
    if given:
        attrs["givenName"] = [given]
    return rdn, attrs


model = {}
log = StatsLog()

# ---- The probe -------------------------------------------------------------------

proc = subprocess.Popen([os.path.join(ROOT, "scripts", "wine-run.sh"), probe_exe], stdin=subprocess.PIPE,
                        stdout=subprocess.PIPE)


def hx(text):
    return text.encode("latin-1").hex() or "-"


def probe(*words):
    proc.stdin.write((" ".join(str(w) for w in words) + "\n").encode())
    proc.stdin.flush()
    line = proc.stdout.readline().decode().split()
    check(line[:1] == ["ok"], f"probe answered {line} to {words}")
    reply = {"ms": int(line[1][3:]), "words": line[2:]}
    ops = [w.split(":") for w in line[3:] if w.count(":") == 2] if len(line) > 3 else []
    reply["ops"] = [(k, int(r)) for k, r, _ in ops]
    return reply


def step(what, words, ops, changes=None, gone=()):
    """One probe command; then the operations slapd saw and the directory."""
    reply = probe(*words)
    got = [(kind, err) for kind, _, err in log.ops()]
    check(got == ops, f"{what}: slapd saw {got}, expected {ops}")
    model.update(changes or {})
    for name in gone:
        model.pop(name, None)
    seen = directory()
    check(seen == model, f"{what}: directory\n {seen}\nexpected\n {model}")
    return reply


def write(what, find, aliases, name, ops, kind=0, gone=(), classes=("inetOrgPerson",)):
    changes = dict([person(aliases, name, classes=classes)]) if kind == 0 and ops and ops[-1][1] == 0 and ops[-1][0] != "DEL" else {}
    return step(what, ["write", "example.test", hx(find), kind, hx(aliases), hx(name)], ops, changes, gone)


started = time.time()
probe("init", winpath(install).encode().hex())
B, A, M, D = ("BIND", 0), ("ADD", 0), ("MOD", 0), ("DEL", 0)

# Without "slapd.conf" nothing happens, also after the file appears, until
# the unit starts afresh. Then a modify of a missing entry adds it.
write("no slapd.conf", "", "bob", "Bob Smith", [])
write_slapd_conf(ROOTPW)
write("slapd.conf read once", "bob", "bob;robert", "Bob Smith", [])
probe("client", b"LDAP32.Dll".hex())
write("modify adds", "bob", "bob;robert", "Bob Smith", [B, ("MOD", 32), A])
check(probe("loaded", b"LDAP32.dll".hex())["words"] == ["1", "1"], "a sync unloaded the client")
write("second modify", "bob", "bob;bobby;BOB", "Robert Smith  Jr", [B, M])
write("one word drops givenName", "bob", "bob;bobby", "Bobby", [B, M])
write("renamed first alias", "bob", "rob;bob", "Rob", [B, D, ("MOD", 32), A], gone=["bob@example.test"])

# A stale entry with an auxiliary class other tools added is replaced, class kept.
ldap_tool("ldapadd", f"dn: cn=carol@example.test,{BASE}\nobjectClass: inetOrgPerson\nobjectClass: extensibleObject\n"
                     "cn: carol@example.test\nsn: Old\nmail: old@example.test\n")
log.ops()
write("stale entry", "", "carol", "Carol New", [B, ("ADD", 68), M], classes=("inetOrgPerson", "extensibleObject"))
write("kind 0 to 3 deletes", "carol", "carol", "Carol New", [B, D], kind=3, gone=["carol@example.test"])
write("kind 3", "", "dave", "Dave", [], kind=3)
write("blank first alias", "", " ;zed", "Zed", [])

with open(os.path.join(config, "ldapbypass.dat"), "w") as f:
    f.write("eve@example.test\n")
write("bypassed", "", "eve", "Eve", [])
write("bypassed rename deletes nothing", "eve", "eve2;eve", "Eve", [B, ("MOD", 32), A])
os.remove(os.path.join(config, "ldapbypass.dat"))

for alias in ["a,ou=x", "a+cn=b", "#a", " a "]:
    write(f"escaped {alias!r}", "", alias, "", [B, A])
write("latin-1 once", "", "jos\xe9;jo", "Jos\xe9 M\xfcller", [B, A])
check("jos\xe9@example.test" in directory(), "UTF-8 DN")

# A user suffix with a letter beyond ASCII, UTF-8 in the file: passed as
# the file holds it, only the name value converted.
ZURICH = f"ou=Z\u00fcrich,{SUFFIX}"
ldap_tool("ldapadd", f"dn: {ZURICH}\nobjectClass: organizationalUnit\nou: Z\u00fcrich\n")
log.ops()
write_slapd_conf(ROOTPW, ZURICH)
probe("client", b"LDAP32.Dll".hex())
step("suffix beyond ASCII", ["write", "example.test", "-", 0, hx("zo\xeb"), hx("Zo\xeb")], [B, A])
zoe_rdn, zoe = person("zo\xeb", "Zo\xeb")
check(directory(ZURICH) == {zoe_rdn: zoe}, f"entry under the suffix: {directory(ZURICH)}")
write_slapd_conf(ROOTPW)
probe("client", b"LDAP32.Dll".hex())

step("deletion", ["delete", "example.test", hx("rob")], [B, D], gone=["rob@example.test"])

# A wrong root password: the bind is refused and nothing else is sent.
write_slapd_conf("wrong")
probe("client", b"LDAP32.Dll".hex())
write("wrong rootpw", "jos\xe9", "jos\xe9", "Changed", [("BIND", 49)])
write_slapd_conf(ROOTPW)
probe("client", b"LDAP32.Dll".hex())

# A closed port: the bind is not sent, and no time is lost.
write_settings(closed_port())
probe("init", winpath(install).encode().hex())
reply = write("closed port", "jos\xe9", "jos\xe9", "Changed", [])
check(reply["ops"] == [("bind", -1)] and reply["ms"] < 2000, f"closed port: {reply}")
write_settings(PORT)
probe("init", winpath(install).encode().hex())

# A server that does not answer: one 5-second wait, no change, and syncing
# works again afterwards.
os.kill(int(info["pid"]), signal.SIGSTOP)
try:
    reply = probe("write", "example.test", hx("jos\xe9"), 0, hx("jos\xe9"), hx("Stopped"))
finally:
    os.kill(int(info["pid"]), signal.SIGCONT)
time.sleep(0.5)  # the queued bind reaches the log now
check(reply["ops"] == [("bind", 85)] and 4500 <= reply["ms"] < 9000, f"stopped server: {reply}")
check([op for op in log.ops() if op[0] != "BIND"] == [] and directory() == model, "stopped server changed something")
write("after SIGCONT", "jos\xe9", "jos\xe9", "Changed Again", [B, M])

# The authentication's bind (AuthMode 2), item 0 naming this server.
server = f"127.0.0.1:{PORT}"
ldap_tool("ldapmodify", f"dn: cn=jos\xe9@example.test,{BASE}\nchangetype: modify\nadd: userPassword\nuserPassword: pw1\n")
ldap_tool("ldapadd", f"dn: uid=bob,ou=people,{SUFFIX}\nobjectClass: inetOrgPerson\nuid: bob\ncn: bob\nsn: bob\n"
                     "userPassword: bobpw\n")
ldap_tool("ldapmodify", f"dn: cn={zoe_rdn},{ZURICH}\nchangetype: modify\nadd: userPassword\nuserPassword: pw2\n")
log.ops()
sync_dn = f"cn=jos\xe9@example.test,{BASE}"
zoe_dn = f"cn={zoe_rdn},{ZURICH}"  # Latin-1, as a record holds it
zoe_utf8 = zoe_dn.encode("utf-8").decode("latin-1")  # the same DN copied from the directory
for what, item1, password, code, name in [
        ("the sync's DN", sync_dn, "pw1", 0, sync_dn),
        ("wrong password", sync_dn, "nope", 49, sync_dn),
        ("a Latin-1 DN under the suffix", zoe_dn, "pw2", 0, zoe_dn),
        ("a UTF-8 DN under the suffix", zoe_utf8, "pw2", 0, zoe_utf8),
        ("a DN as it stands", f"uid=bob,ou=people,{SUFFIX}", "bobpw", 0, f"uid=bob,ou=people,{SUFFIX}"),
        ("default name", "", "bobpw", 34, "bob@example.test"),
        ("empty password", "", "", -1000, "")]:
    reply = probe("bind", hx(server), hx(item1), hx(password), hx("bob"), "example.test")
    words = dict(w.split("=", 1) for w in reply["words"])
    check(words["code"] == str(code) and words["accepted"] == str(int(code == 0)), f"{what}: {reply}")
    check(bytes.fromhex(words["name"].replace("-", "")).decode("latin-1") == name, f"{what}: bind name {reply}")
    binds = [(k, err) for k, _, err in log.ops() if k == "BIND"]
    check(binds == ([("BIND", code)] if name else []), f"{what}: slapd saw {binds}")
reply = probe("bind", hx(f"127.0.0.1:{closed_port()}"), hx(f"uid=bob,ou=people,{SUFFIX}"), hx("bobpw"), hx("bob"),
              "example.test")
check("code=81" in reply["words"] and reply["ms"] < 1000, f"closed port bind: {reply}")

# A client that lacks an entry point is not used, and not kept loaded.
partial = os.path.join(os.path.dirname(probe_exe), "LDAP32Partial.dll")
probe("client", winpath(partial)[:-1].encode().hex())
write("partial client", "jos\xe9", "jos\xe9", "Partial", [])
check(probe("loaded", b"LDAP32Partial.dll".hex())["words"] == ["0", "0"], "partial client stayed loaded")
reply = probe("bind", hx(server), hx(sync_dn), hx("pw1"), hx("bob"), "example.test")
check("code=82" in reply["words"], f"partial client bind: {reply}")
probe("client", b"LDAP32.Dll".hex())

# Concurrency: 8 writers (a domain each) on 25 accounts while 4 threads bind.
ldap_tool("ldapadd", "\n".join(f"dn: ou=d{t}.test,{SUFFIX}\nobjectClass: organizationalUnit\nou: d{t}.test\n"
                               for t in range(8)))
log.ops()
reply = probe("stress", 8, 25, 4, hx(server), hx(f"uid=bob,ou=people,{SUFFIX}"), hx("bobpw"))
words = dict(w.split("=", 1) for w in reply["words"])
check(words["refused"] == "0" and words["failed"] == "0" and int(words["accepted"]) > 0, f"stress: {reply}")
print(f"ldap_driver: 472 syncs and {words['accepted']} binds in {reply['ms']} ms")
ops = log.ops(settle=10)
check(all(err == 0 for _, _, err in ops), f"stress: refused operations {[op for op in ops if op[2] != 0][:5]}")
for t in range(8):
    domain = f"d{t}.test"
    expected = dict(person(f"u{i};x{i}", f"Changed Name {i}", domain) for i in range(25) if i % 3)
    check(directory(f"ou={domain},{SUFFIX}") == expected, f"stress: directory of {domain}")

proc.stdin.write(b"quit\n")
proc.stdin.close()
check(proc.wait(timeout=30) == 0, "probe exit status")
print(f"ldap_driver: all scenarios passed in {time.time() - started:.1f} s")
