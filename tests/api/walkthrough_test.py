"""Runs the example script api/example/walkthrough.vbs against the registered
Api.dll under cscript on a fresh installation folder (holding only the
shipped setting-names file) and compares its transcript, followed by the
files the folder then holds, with tests/api/walkthrough.expected.
    walkthrough_test.py path/to/Api.dll
"""
import difflib
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from wine_com import SOURCE, run, win, wine_env  # noqa: E402


def transcript(dll):
    env = wine_env(dll)
    work = tempfile.mkdtemp(prefix="api-walkthrough-")
    try:
        root = os.path.join(work, "install")
        os.makedirs(root)
        shutil.copy(os.path.join(SOURCE, "api", "sdk", "APIConst.inc"), root)
        code, text = run(env, "cscript", "//nologo", win(os.path.join(SOURCE, "api", "example", "walkthrough.vbs")),
                         win(root) + "\\")
        lines = [line.rstrip() for line in text.splitlines()] + ["exit status %d" % code, "files:"]
        files = []
        for folder, _, names in os.walk(root):
            files += [os.path.relpath(os.path.join(folder, name), root).replace("/", "\\") for name in names]
        return lines + ["  " + name for name in sorted(files)]
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main(dll):
    got = transcript(dll)
    with open(os.path.join(HERE, "walkthrough.expected")) as f:
        expected = f.read().splitlines()
    if got == expected:
        print("\n".join(got))
        return 0
    print("\n".join(difflib.unified_diff(expected, got, "walkthrough.expected", "transcript", lineterm="")))
    return 1


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1])))
