"""Registers (in) or unregisters (out) a COM server DLL with regsvr32 in the
Wine prefix of its kind, for the tests that need it registered. Registering
first lets the script host register its own type library, as it does when
it first runs a script in a prefix.
    register.py in|out path/to/Api.dll
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from wine_com import run, warm_script_host, win, wine_env  # noqa: E402


def main(way, dll):
    env = wine_env(dll)
    if way == "in":
        warm_script_host(env)
        code, text = run(env, "regsvr32", "/s", win(dll))
    else:
        code, text = run(env, "regsvr32", "/u", "/s", win(dll))
    print("regsvr32 %s %s: %d %s" % (way, dll, code, text.strip()))
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], os.path.abspath(sys.argv[2])))
