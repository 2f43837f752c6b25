"""The instant message from VBScript under cscript (im_test.vbs), in the Wine
prefix of the DLL's kind: an installation written by im_files.py, the
sending library's registry value pointing at it for the run, the library
registered around the script; afterwards the store is read by the XML
oracle against the two messages the script sent.
    im_script_test.py path/to/VelmoraCOM.dll im_test.vbs CHECKS
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "im"))
import im_files  # noqa: E402
from script_test import run_script  # noqa: E402
from wine_com import run, win, wine_env  # noqa: E402

KEY = "HKLM\\Software\\Velmora\\Tolum Mail Server"
SENT = [
    {"tag": "", "from": "Script", "to": "ann@a.test", "type": "chat", "subject": "Hi & bye", "body": "\u00e9 <b>",
     "raw": "<em>x</em>", "attrs": [["id", "7"]]},
    {"tag": "", "from": "", "to": "ann@a.test", "type": "", "subject": "", "body": "again", "raw": "", "attrs": []},
]


def main(dll, script, checks):
    env = wine_env(dll)
    work = tempfile.mkdtemp(prefix="velmora-im-script-")
    try:
        im_files.make(work)
        files = os.path.join(work, "files")
        box = os.path.join(files, "mail", "a.test", "ann", "~IM")
        with open(os.path.join(box, "Last.dat"), "w") as f:
            f.write("17\r\n")
        code, text = run(env, "reg", "add", KEY, "/v", "InstallDir", "/t", "REG_SZ", "/d", win(files) + "\\", "/f")
        if code != 0:
            print("reg add failed:", code, text)
            return 1
        try:
            status = run_script(env, dll, script, win(files) + "\\", checks)
        finally:
            run(env, "reg", "delete", KEY, "/v", "InstallDir", "/f")
        case = os.path.join(work, "out", "script")
        os.makedirs(case)
        shutil.copy(os.path.join(box, "Pending.dat"), case)
        with open(os.path.join(case, "expect.json"), "w") as f:
            json.dump(SENT, f)
        oracle = subprocess.call([sys.executable, os.path.join(HERE, "..", "im", "xml_oracle.py"), "store",
                                  os.path.join(work, "out")])
        return status or oracle
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), int(sys.argv[3])))
