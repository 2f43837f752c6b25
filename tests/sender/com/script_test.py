"""Runs a script against VelmoraCOM.dll under cscript, in the Wine prefix of
the DLL's kind: registers the library, writes the script's folder (a small
tree, and an archive 100 bytes into a file), runs the script with that
folder and unregisters. An uncaught script error ends cscript with exit
status 0 and no word, so the script must close with "N passed, M failed",
quit with M, and have run exactly the given number of checks.
    script_test.py path/to/VelmoraCOM.dll script.vbs|script.js CHECKS
"""
import os
import shutil
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "support"))
import ilds  # noqa: E402
from wine_com import run, script_verdict, win, wine_env  # noqa: E402


def run_script(env, dll, script, argument, checks):
    """Registers dll, runs the script with one argument under cscript,
    unregisters; 0 when it closed with "N passed, 0 failed", N = checks,
    and quit with 0."""
    code, text = run(env, "regsvr32", "/s", win(dll))
    if code != 0:
        print("regsvr32 failed:", code, text)
        return 1
    try:
        code, text = run(env, "cscript", "//nologo", win(script), argument)
    finally:
        run(env, "regsvr32", "/u", "/s", win(dll))
    return script_verdict(code, text, checks)


def main(dll, script, checks):
    env = wine_env(dll)
    work = tempfile.mkdtemp(prefix="velmora-script-")
    try:
        for name, text in {"tree/a.txt": "alpha", "tree/b.txt": "bravo", "tree/sub/c.txt": "charlie",
                           "more/d.txt": "delta"}.items():
            os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
            with open(os.path.join(work, name), "w") as f:
                f.write(text)
        with open(os.path.join(work, "seek.bin"), "wb") as f:
            f.write(b"\xee" * 100 + ilds.archive([(b"s.txt", b"seek")]))
        return run_script(env, dll, script, win(work) + "\\", checks)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])))
