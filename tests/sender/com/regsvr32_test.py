"""regsvr32 in and out with the built VelmoraCOM.dll, in the Wine prefix of
its kind: every key reads back after registering, twice in and twice out
answer 0, and HKEY_CLASSES_ROOT exports the same before registering and
after unregistering; also for a copy in a folder with blanks and non-ASCII
letters, which a script then creates the class from.
    regsvr32_test.py path/to/VelmoraCOM.dll
"""
import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "support"))
from wine_com import cycle, run, server_keys, warm_script_host, win, wine_env  # noqa: E402

DLL = os.path.abspath(sys.argv.pop(1))
ENV = wine_env(DLL)
BITS = "win64" if ENV["WINEARCH"] == "win64" else "win32"

LIBRARY = "{A4484AA9-AB37-4C42-9030-C7E190C0FE97}"
KELPA = "{2FA83BC9-415A-490E-AB76-8415E2C65650}"
IMMESSAGE = "{B14BDB06-234D-4A60-9A3F-1E334CE874E0}"
MAILER = "{CAA22091-1406-4B28-B31F-66E62CFEFFA4}"
CLASSES = {KELPA: ("VelmoraCOM.Kelpa", "Velmora Data Packager"),
           MAILER: ("VelmoraCOM.Mailer", "Mailer Object"),
           IMMESSAGE: ("VelmoraCOM.IMMessage", "IM Jabber Object")}
INTERFACES = {"IMailer": "{73DAA270-BDA6-4B03-AACF-F65121BDCC81}",
              "IIMMessage": "{33A3FEF6-C7DF-4FA7-A80F-CA039375763D}",
              "IKelpa": "{0D491581-2581-42CF-975F-9F3E536B4CFD}"}


def expected_keys(path):
    """What registering the library at path writes (string values)."""
    return server_keys(path, LIBRARY, BITS, CLASSES, INTERFACES, "Velmora COM Library")


class Regsvr32(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        warm_script_host(ENV)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="velmora-regsvr32-")

    def tearDown(self):
        run(ENV, "regsvr32", "/u", "/s", win(DLL))
        shutil.rmtree(self.work, ignore_errors=True)

    def created(self):
        """A script creates the class and calls it."""
        script = os.path.join(self.work, "create.js")
        with open(script, "w") as f:
            f.write('var k = new ActiveXObject("VelmoraCOM.Kelpa");\n'
                    'WScript.Echo(k.ListFiles("%s") === "" ? "created" : "wrong");\n'
                    % win(os.path.join(self.work, "missing.ilds")).replace("\\", "\\\\"))
        code, text = run(ENV, "cscript", "//nologo", win(script))
        self.assertEqual((code, text.strip()), (0, "created"))

    def test_in_and_out(self):
        cycle(ENV, DLL, expected_keys(win(DLL)), KELPA)

    def test_copy_in_a_folder_with_blanks_and_letters(self):
        folder = os.path.join(self.work, "Velmora Dateien ñé")
        os.makedirs(folder)
        copy = os.path.join(folder, "VelmoraCOM.dll")
        shutil.copy(DLL, copy)
        cycle(ENV, copy, expected_keys(win(copy)), KELPA, self.created)


if __name__ == "__main__":
    unittest.main(verbosity=2)
