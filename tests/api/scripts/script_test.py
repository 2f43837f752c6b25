"""Runs a script against the registered Api.dll under cscript, in the Wine
prefix of the DLL's kind, on a fresh installation folder that holds only the
shipped setting-names file. An uncaught script error ends cscript with exit
status 0 and no word, so the script prints "plan N" first and
"N passed, M failed" last, and quits with M: all N checks must have run and
passed.
    script_test.py path/to/Api.dll script.vbs|script.js
"""
import os
import re
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "support"))
from wine_com import SOURCE, run, win, wine_env  # noqa: E402


def main(dll, script):
    env = wine_env(dll)
    work = tempfile.mkdtemp(prefix="api-script-")
    try:
        root = os.path.join(work, "install")
        os.makedirs(root)
        shutil.copy(os.path.join(SOURCE, "api", "sdk", "APIConst.inc"), root)
        code, text = run(env, "cscript", "//nologo", win(script), win(root) + "\\")
        print(text)
        lines = [line.strip() for line in text.strip().splitlines()]
        plan = re.fullmatch(r"plan (\d+)", lines[0]) if lines else None
        closing = re.fullmatch(r"(\d+) passed, (\d+) failed", lines[-1]) if lines else None
        if plan is None or closing is None:
            print("no plan or no closing line: the script ended early")
            return 1
        passed, failed = int(closing.group(1)), int(closing.group(2))
        if failed != 0 or code != failed or passed != int(plan.group(1)):
            print("exit status %d; %s checks planned, all to pass" % (code, plan.group(1)))
            return 1
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])))
