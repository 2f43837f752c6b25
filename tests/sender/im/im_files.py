#!/usr/bin/env python3
"""Independent writer of the installations the instant-message tests use,
from the record layouts alone (records.py), and the check of what the
tests stored (xml_oracle.py):

    im_files.py make DIR [STANDIN]
        DIR/files: storage mode 0, serving a.test and b.test. a.test's
        "users.cfg" holds "ann;\\xc4nne", "bob" (no "~IM\\" folder),
        "team;[staff]" ("groups.dat" puts mary in [staff]), "jos\\xe9;J\\xf6rg"
        and "long", whose absolute mailbox folder makes "~IM\\Last.dat" 256
        characters long (a "Last.da" with 17 lies where a cut to 255 would
        lead); b.test's holds "carl". Mailboxes under the root's "mail\\".
        DIR/mode2 (with STANDIN): storage mode 2 with that DB.dll stand-in; the
        accounts have no mailbox path, so their store is "mail\\~IM\\".
        DIR/out: emptied; the tests leave each case's store there.
    im_files.py check DIR
        The oracle over DIR/out.
"""
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "support"))
from records import ACCOUNT, Settings, account, domain_entry, scramble, scramble_records, settings_record, write  # noqa: E402


def windows(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def settings(domains, mode):
    rec = settings_record(domains)
    rec[Settings.FIRST_PROCESSOR] = 0
    rec[Settings.STORAGE_MODE] = mode
    return scramble(bytes(rec))


def make(out, standin=None):
    shutil.rmtree(out, ignore_errors=True)
    files = os.path.join(out, "files")
    config = os.path.join(files, "config")
    write(os.path.join(config, "settings.cfg"), settings(2, 0))
    write(os.path.join(config, "domains.cfg"), domain_entry("a.test") + domain_entry("b.test"))
    write(os.path.join(config, "groups.dat"), b"[staff]\r\nmary\r\n")
    deep = os.path.join(files, "deep")
    prefix = windows(deep) + "\\"
    long_folder = prefix + "d" * (256 - len("~IM\\Last.dat") - len(prefix) - 1) + "\\"
    assert len(long_folder + "~IM\\Last.dat") == 256
    a = [account(b"ann;\xc4nne", "ann", "pw", path="a.test\\ann"),
         account("bob", "bob", "pw", path="a.test\\bob"),
         account("team;[staff]", "team", "pw", path="a.test\\team"),
         account(b"jos\xe9;J\xf6rg", "jose", "pw", path="a.test\\jose"),
         account("long", "long", "pw", path=long_folder)]
    write(os.path.join(config, "a.test", "users.cfg"), scramble_records(b"".join(a), ACCOUNT))
    write(os.path.join(config, "b.test", "users.cfg"),
          scramble_records(account("carl", "carl", "pw", path="b.test\\carl"), ACCOUNT))
    for box in ("a.test/ann", "a.test/team", "a.test/jose", "b.test/carl"):
        os.makedirs(os.path.join(files, "mail", box, "~IM"))
    os.makedirs(os.path.join(files, "mail", "a.test", "bob"))
    cut = os.path.join(deep, long_folder[len(prefix):-1], "~IM")
    write(os.path.join(cut, "Last.da"), b"17\r\n")

    os.makedirs(os.path.join(out, "out"))
    if standin is None:
        return
    mode2 = os.path.join(out, "mode2")
    write(os.path.join(mode2, "config", "settings.cfg"), settings(0, 2))
    os.makedirs(os.path.join(mode2, "mail", "~IM"))
    shutil.copy(standin, os.path.join(mode2, "DB.dll"))


if __name__ == "__main__":
    if sys.argv[1] == "make":
        make(sys.argv[2], *sys.argv[3:4])
    else:
        sys.exit(subprocess.call([sys.executable, os.path.join(HERE, "xml_oracle.py"), "store",
                                  os.path.join(sys.argv[2], "out")]))
