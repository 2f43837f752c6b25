"""Runs a script against the registered Api.dll under cscript, in the Wine
prefix of the DLL's kind, on a fresh installation folder that holds only the
shipped setting-names file. An uncaught script error ends cscript with exit
status 0 and no word, so the script prints "plan N" first and
"N passed, M failed" last, and quits with M: all N checks must have run and
passed.
    script_test.py path/to/Api.dll script.vbs|script.js
"""
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "support"))
from wine_com import SOURCE, run, script_verdict, win, wine_env  # noqa: E402


def main(dll, script):
    env = wine_env(dll)
    work = tempfile.mkdtemp(prefix="api-script-")
    try:
        root = os.path.join(work, "install")
        os.makedirs(root)
        shutil.copy(os.path.join(SOURCE, "api", "sdk", "APIConst.inc"), root)
        code, text = run(env, "cscript", "//nologo", win(script), win(root) + "\\")
        return script_verdict(code, text)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])))
