#!/usr/bin/env python3
"""The date variables of variables_date_probe.exe (a pinned clock, Sunday
2003-01-05 09:04:07.089) in three regions, against their texts written out:
the project's prefix (English, as scripts/wine-run.sh starts it), a German
prefix and a prefix whose short date and time formats are overridden in
HKCU\\Control Panel\\International. Wine rewrites that key whenever a prefix
starts under another locale, so the German and the override runs have
prefixes of their own, made once under FOLDER.
    check_dates.py path/to/variables_date_probe.exe FOLDER
"""
import os
import subprocess
import sys
import tempfile

SOURCE = os.environ.get("VM_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", "..", ".."))
SCRIPTS = os.path.join(SOURCE, "scripts")
PROBE, FOLDER = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])

COMMON = {
    "rfc822": "Sun, 05 Jan 2003 09:04:07 -0000",
    "ampm": "AM 9|09 am",
    "numbers": "5.05.1.01.03.2003.9.09.4.04.7.07.89.089",
}
ENGLISH = dict(COMMON, date="1/5/2003", time="9:04:07 AM", percentage="87.50", short="1/5/2003",
               long="Sunday, January 5, 2003", t="9:04 AM", tt="9:04:07 AM", c="1/5/2003 9:04:07 AM",
               separators="/:", names="Sun|Sunday|Jan|January")
GERMAN = dict(COMMON, date="5.1.2003", time="09:04:07", percentage="87,50", short="5.1.2003",
              long="Sonntag, 5. Januar 2003", t="09:04", tt="09:04:07", c="5.1.2003 09:04:07", separators=".:",
              names="So.|Sonntag|Jan|Januar")
OVERRIDE = dict(ENGLISH, date="2003|01|05", time="09.04.07", short="2003|01|05", t="09.04", tt="09.04.07",
                c="2003|01|05 09.04.07", separators="|.")


def bits():
    return subprocess.run(["bash", "-c", f'source "{SCRIPTS}/wine-env.sh"; vm_pe_bits "$1"', "-", PROBE],
                          capture_output=True, text=True, check=True).stdout.strip()


def wine(env, script):
    """A bash snippet with the prefix's Wine environment; output through a
    file, since a wineserver the run starts would keep a pipe open."""
    with tempfile.TemporaryFile() as out:
        code = subprocess.run(["bash", "-c", f'source "{SCRIPTS}/wine-env.sh"; vm_wine_env {bits()}; {script}'],
                              env=env, stdout=out, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL,
                              timeout=600).returncode
        out.seek(0)
        text = out.read().decode("latin-1")
    if code != 0:
        raise SystemExit(f"{script}: exit {code}\n{text}")
    return text


def own_prefix(name, locale=None):
    env = dict(os.environ, **{f"VM_WINEPREFIX{bits()}": os.path.join(FOLDER, name)})
    if locale:
        env["VM_WINE_LOCALE"] = locale
    else:
        env.pop("VM_WINE_LOCALE", None)
    return env


def probe(env):
    text = wine(env, f'"$WINELOADER" "{PROBE}"')
    return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def main():
    os.makedirs(FOLDER, exist_ok=True)
    problems = []
    runs = [("English", dict(os.environ), ENGLISH)]

    german = own_prefix("prefix-de", "de_DE.UTF-8")
    wine(german, f'bash "{SCRIPTS}/wine-prefix.sh" {bits()}')
    runs.append(("German", german, GERMAN))

    override = own_prefix("prefix-override")
    marker = os.path.join(FOLDER, "prefix-override", ".vm-override")
    if not os.path.exists(marker):
        wine(override, f'bash "{SCRIPTS}/wine-prefix.sh" {bits()} && '
                       r'"$WINELOADER" reg add "HKCU\Control Panel\International" /v sShortDate /d "yyyy|MM|dd" /f && '
                       r'"$WINELOADER" reg add "HKCU\Control Panel\International" /v sTimeFormat /d "HH.mm.ss" /f && '
                       '"$WINESERVER" -w')
        open(marker, "w").close()
    runs.append(("override", override, OVERRIDE))

    for name, env, expected in runs:
        try:
            got = probe(env)
        finally:
            if env is not runs[0][1]:
                wine(env, '"$WINESERVER" -k || true')
        for key, want in expected.items():
            if got.get(key) != want:
                problems.append(f"{name} {key}: {got.get(key)!r}, expected {want!r}")
    for line in problems:
        print(line)
    print(f"check_dates: {len(problems)} problem(s) in {len(runs)} regions")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
