"""What the COM tests of the libraries share: Wine's own programs
(regsvr32, reg, cscript) run in the prefix of the DLL's kind, and the
registry's HKEY_CLASSES_ROOT as reg export writes it."""
import os
import re
import subprocess
import tempfile

SOURCE = os.environ.get("VM_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


def wine_env(dll):
    """The environment of the Wine prefix that runs programs of dll's kind."""
    script = 'source "$0/scripts/wine-env.sh"; vm_wine_env "$(vm_pe_bits "$1")"; env -0'
    out = subprocess.run(["bash", "-c", script, SOURCE, dll], capture_output=True, check=True).stdout
    return dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(env, *args, timeout=300):
    """(exit status, output) of a program under Wine. Output goes through a
    file: a wineserver started by the run would keep a pipe open."""
    with tempfile.TemporaryFile() as out:
        code = subprocess.run([env["WINELOADER"], *args], env=env, stdout=out, stderr=subprocess.STDOUT,
                              stdin=subprocess.DEVNULL, timeout=timeout).returncode
        out.seek(0)
        return code, out.read().decode("utf-8", "replace")


def export_classes(env):
    """HKEY_CLASSES_ROOT as reg export writes it (text)."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "classes.reg")
        code, text = run(env, "reg", "export", "HKEY_CLASSES_ROOT", win(path), "/y")
        assert code == 0, text
        with open(path, "rb") as f:
            return f.read().decode("utf-16")


def parse_export(text):
    """{key: {value name ("@" for the default): text}} of the string values."""
    keys, current = {}, None
    for line in text.splitlines():
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1].upper(), {})
        elif current is not None and "=" in line and line.endswith('"'):
            name, _, value = line.partition("=")
            if value.startswith('"'):
                value = re.sub(r"\\(.)", r"\1", value[1:-1])
                current[name.strip('"')] = value
    return keys


TYPELIB_MARSHALLER = "{00020424-0000-0000-C000-000000000046}"


def server_keys(path, library, bits, classes, interfaces, library_text=None):
    """What registering the COM server at path writes (string values):
    classes {clsid: (progid, help string)}, interfaces {name: iid}."""
    keys = {
        "TypeLib\\%s\\1.0\\409\\%s" % (library, bits): {"@": path},
        "TypeLib\\%s\\1.0\\0\\%s" % (library, bits): {"@": path},
    }
    if library_text is not None:
        keys["TypeLib\\%s\\1.0" % library] = {"@": library_text}
    for clsid, (progid, help_text) in classes.items():
        keys["CLSID\\" + clsid] = {"@": help_text}
        keys["CLSID\\%s\\InprocServer32" % clsid] = {"@": path, "ThreadingModel": "Free"}
        keys["CLSID\\%s\\ProgID" % clsid] = {"@": progid}
        keys["CLSID\\%s\\TypeLib" % clsid] = {"@": library}
        keys["CLSID\\%s\\Version" % clsid] = {"@": "1.0"}
        keys[progid] = {"@": help_text}
        keys[progid + "\\CLSID"] = {"@": clsid}
    for name, iid in interfaces.items():
        keys["Interface\\" + iid] = {"@": name}
        keys["Interface\\%s\\ProxyStubClsid32" % iid] = {"@": TYPELIB_MARSHALLER}
        keys["Interface\\%s\\TypeLib" % iid] = {"@": library}
    return keys


def _check(condition, message):
    if not condition:
        raise AssertionError(message)


def cycle(env, dll, keys, marker, while_registered=None):
    """regsvr32 of dll twice in and twice out, each answering 0: every string
    value of keys (server_keys of dll's path) reads back while registered,
    and HKEY_CLASSES_ROOT, which must not name marker before, exports the
    same before and after. while_registered() runs between. AssertionError
    on the first difference."""
    before = export_classes(env)
    _check(marker not in before, marker + " registered before the test")
    for _ in range(2):
        code, text = run(env, "regsvr32", "/s", win(dll))
        _check(code == 0, "regsvr32 in: %d %s" % (code, text))
    written = parse_export(export_classes(env))
    for key, values in keys.items():
        for name, value in values.items():
            got = written.get(("HKEY_CLASSES_ROOT\\" + key).upper(), {}).get(name)
            _check(got == value, "%s %s: %r, not %r" % (key, name, got, value))
    if while_registered is not None:
        while_registered()
    for _ in range(2):
        code, text = run(env, "regsvr32", "/u", "/s", win(dll))
        _check(code == 0, "regsvr32 out: %d %s" % (code, text))
    _check(export_classes(env) == before, "HKEY_CLASSES_ROOT differs after unregistering")


def script_verdict(code, text, checks=None):
    """Prints cscript's output; 0 when it closed with "N passed, 0 failed"
    and the script quit with 0, N being checks or, without checks, the
    "plan N" of its first line; else 1. (An uncaught script error ends
    cscript with exit status 0 and no word.)"""
    print(text)
    lines = [line.strip() for line in text.strip().splitlines()]
    if checks is None:
        plan = re.fullmatch(r"plan (\d+)", lines[0]) if lines else None
        checks = int(plan.group(1)) if plan else None
    closing = re.fullmatch(r"(\d+) passed, (\d+) failed", lines[-1]) if lines else None
    if checks is None or closing is None:
        print("no plan or no closing line: the script ended early")
        return 1
    passed, failed = int(closing.group(1)), int(closing.group(2))
    if failed != 0 or code != failed or passed != checks:
        print("exit status %d; %d checks expected, all to pass" % (code, checks))
        return 1
    return 0


def warm_script_host(env):
    """The script host registers its own type library when it first runs a
    script in a prefix: let it do so before any export is compared."""
    with tempfile.TemporaryDirectory() as folder:
        script = os.path.join(folder, "warm.js")
        with open(script, "w") as f:
            f.write('new ActiveXObject("Scripting.Dictionary"); WScript.Echo("ready");\n')
        assert run(env, "cscript", "//nologo", win(script))[0] == 0
