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
