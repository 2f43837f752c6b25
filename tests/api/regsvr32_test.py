"""regsvr32 in and out with the built Api.dll, in the Wine prefix of its
kind: twice in and twice out answer 0, every key reads back while
registered, and HKEY_CLASSES_ROOT exports the same before registering and
after unregistering.
    regsvr32_test.py path/to/Api.dll
"""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from wine_com import cycle, run, server_keys, warm_script_host, win, wine_env  # noqa: E402

DLL = os.path.abspath(sys.argv.pop(1))
ENV = wine_env(DLL)
BITS = "win64" if ENV["WINEARCH"] == "win64" else "win32"

LIBRARY = "{E314082A-92C3-4A98-BD05-9AF2C504629D}"
# coclass: (class id, help string, interface, interface id)
CLASSES = {
    "APIObject": ("{1F846749-8B58-4328-8F9A-B0F62716D008}", "API Object ",
                  "IAPIObject", "{B413B2A5-A9B0-40D2-80CE-7D565B03D0A8}"),
    "DomainObject": ("{062B6D16-7CAA-4EB8-ADD0-A9B0BC9967D5}", "Domain Object",
                     "IDomainObject", "{2014F143-8B19-49F0-AFB4-C740D0943A85}"),
    "AccountObject": ("{0017AF81-E6EA-48D0-ABD6-088623A62AC0}", "Account Object",
                      "IAccountObject", "{FA497D3E-48A6-401C-8390-2A4F9EA076F4}"),
    "RemoteAccountObject": ("{D4DF879B-9CF2-444A-80F0-ECB4BB7EDE1E}", "Remote Account Object",
                            "IRemoteAccountObject", "{70B07934-1228-4FDA-AFCE-77CAD4C47773}"),
}


def expected_keys(path):
    """What registering the library at path writes (string values)."""
    return server_keys(path, LIBRARY, BITS,
                       {clsid: ("TolumCOM." + coclass, text) for coclass, (clsid, text, _, _) in CLASSES.items()},
                       {interface: iid for clsid, _, interface, iid in CLASSES.values()})


class Regsvr32(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        warm_script_host(ENV)

    def tearDown(self):
        run(ENV, "regsvr32", "/u", "/s", win(DLL))

    def test_in_and_out(self):
        cycle(ENV, DLL, expected_keys(win(DLL)), LIBRARY)


if __name__ == "__main__":
    unittest.main(verbosity=2)
