#!/usr/bin/env python3
"""Runs the help centre's Windows installer under Wine, on the display and in the Wine
prefix of the environment (DISPLAY, WINEPREFIX), the way a player's machine meets it:

1. the silent install (/S) puts the program, byte for byte the one built, and its licence
   notes into "C:\\Program Files\\Quenmar HelpCentre"; the Start-menu shortcut
   "Quenmar HelpCentre" points at it; the uninstall entry is registered with the name,
   version and uninstaller a player sees in Add/Remove Programs;
2. the program started from the shortcut opens its window;
3. the silent uninstall named by the entry (QuietUninstallString) removes the program,
   the shortcut and the entry, and, after a restart (which removes the uninstaller's
   temporary copy of itself), leaves drive C: and the registry as they were before, but for
   the empty folder in the user's Temp that the copy ran from (NSIS leaves it on Windows too).

windows_installer_check.py --installer SETUP.EXE --exe BUILT.EXE --version VERSION --work DIR
"""

import argparse
import filecmp
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import quenmar_prefix  # noqa: E402
from windows_exe_check import FORM_CAPTION, GAME_KEY, Failure, find_window, reg, run  # noqa: E402

APP_NAME = "Quenmar HelpCentre"
FOLDER = "C:\\Program Files\\Quenmar HelpCentre"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuenmarHelpCentre"
FILES = ["quenmar-helpcentre.exe", "uninstall.exe", "LICENSE.txt", "NOTICE.txt",
         "licenses/LGPL-3.txt", "licenses/GPL-3.txt", "licenses/qt6-base-copyright.txt",
         "licenses/mingw-w64-copyright.txt"]


def drive_c(prefix):
    """Every file and folder on drive C:, relative to it."""
    root = os.path.join(prefix, "drive_c")
    found = set()
    for folder, dirs, files in os.walk(root):
        for entry in dirs + files:
            found.add(os.path.relpath(os.path.join(folder, entry), root))
    return found


def registry_lines(prefix):
    """The registry's lines that name the help centre, once Wine has written them out."""
    run("wineserver", "-w", check=False)
    lines = []
    for hive in ("system.reg", "user.reg", "userdef.reg"):
        path = os.path.join(prefix, hive)
        if os.path.exists(path):
            with open(path, encoding="utf-8", errors="replace") as f:
                lines += [re.sub(r"\] \d+$", "]", line.strip()) for line in f
                          if re.search(r"quenmar.?helpcentre", line, re.IGNORECASE)]
    return sorted(lines)


def registry_values(key):
    query = reg("query", key, check=False)
    if query.returncode != 0:
        return None
    values = {}
    for line in query.stdout.splitlines():
        parts = re.split(r"\s{2,}|\t", line.strip(), maxsplit=2)
        if len(parts) == 3 and parts[1].startswith("REG_"):
            values[parts[0]] = parts[2]
    return values


def find_shortcut(prefix):
    hits = [p for p in drive_c(prefix) if os.path.basename(p) == APP_NAME + ".lnk"]
    return hits


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--installer", required=True)
    parser.add_argument("--exe", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args(argv)
    prefix = os.environ["WINEPREFIX"]
    # Wine's menu builder would copy the shortcut into this machine's own menus.
    os.environ["WINEDLLOVERRIDES"] = ";".join(
        filter(None, [os.environ.get("WINEDLLOVERRIDES", ""), "winemenubuilder.exe=d"]))
    folder = quenmar_prefix.host_path(prefix, FOLDER)

    try:
        # The game's key out of the way: the program then opens on its folder prompt.
        reg("delete", GAME_KEY, "/f", check=False)
        files_before = drive_c(prefix)
        registry_before = registry_lines(prefix)

        print("== the silent install: %s /S" % os.path.basename(args.installer))
        result = run("wine", args.installer, "/S", check=False)
        run("wineserver", "-w", check=False)
        if result.returncode != 0:
            raise Failure("the installer exited with %d: %s" % (result.returncode, result.stderr[-2000:]))
        missing = [f for f in FILES if not os.path.isfile(os.path.join(folder, f))]
        if missing:
            raise Failure("%s lacks %s" % (FOLDER, missing))
        if not filecmp.cmp(args.exe, os.path.join(folder, "quenmar-helpcentre.exe"), shallow=False):
            raise Failure("the installed program differs from the one built")
        notice = open(os.path.join(folder, "NOTICE.txt"), encoding="utf-8").read()
        for wanted in ("Qt 6.4.2", "GNU Lesser", "qt6-base", "scripts/build-windows.sh"):
            if wanted not in notice:
                raise Failure("NOTICE.txt does not mention %r" % wanted)
        print("  %s holds the program and its licence notes" % FOLDER)

        shortcuts = find_shortcut(prefix)
        menu = [s for s in shortcuts if "Start Menu/Programs/" in s.replace("\\", "/")]
        if not menu:
            raise Failure("no Start-menu shortcut %r.lnk; shortcuts found: %s" % (APP_NAME, shortcuts))
        shortcut = os.path.join(prefix, "drive_c", menu[0])
        link = open(shortcut, "rb").read()
        if "quenmar-helpcentre.exe".encode("utf-16-le") not in link and b"quenmar-helpcentre.exe" not in link:
            raise Failure("the shortcut does not point at quenmar-helpcentre.exe")
        print("  the shortcut: C:\\%s" % menu[0].replace("/", "\\"))

        values = registry_values(UNINSTALL_KEY)
        if values is None:
            raise Failure("no uninstall entry %s" % UNINSTALL_KEY)
        expected = {"DisplayName": APP_NAME, "DisplayVersion": args.version,
                    "InstallLocation": FOLDER,
                    "UninstallString": '"%s\\uninstall.exe"' % FOLDER,
                    "QuietUninstallString": '"%s\\uninstall.exe" /S' % FOLDER}
        wrong = {k: values.get(k) for k, v in expected.items() if values.get(k) != v}
        if wrong:
            raise Failure("the uninstall entry's values differ: %s (expected %s)" % (wrong, expected))
        print("  the uninstall entry: %s %s" % (values["DisplayName"], values["DisplayVersion"]))

        print("== the installed program, started from the shortcut")
        log = open(os.path.join(args.work, "installed-program.log"), "w")
        subprocess.run(["wine", "start", "/unix", shortcut], stdout=log, stderr=subprocess.STDOUT, check=False)
        window = find_window(FORM_CAPTION)
        print("  the window %r opened" % FORM_CAPTION)
        # Its folder prompt holds the player until a folder is given: ended from outside.
        run("wineserver", "-k", check=False)
        run("wineserver", "-w", check=False)
        reg("delete", GAME_KEY, "/f", check=False)

        print("== the silent uninstall: %s" % values["QuietUninstallString"])
        quoted = re.match(r'^"([^"]+)"\s*(.*)$', values["QuietUninstallString"])
        result = run("wine", quoted.group(1), *quoted.group(2).split(), check=False)
        run("wineserver", "-w", check=False)
        if result.returncode != 0:
            raise Failure("the uninstaller exited with %d: %s" % (result.returncode, result.stderr[-2000:]))
        # The uninstaller runs from a copy in the temporary folder, which Windows deletes at
        # the next restart, as Wine's does.
        run("wineboot", "-r", check=False)
        run("wineserver", "-w", check=False)
        if registry_values(UNINSTALL_KEY) is not None:
            raise Failure("the uninstall entry is still there")
        # The one thing NSIS's uninstaller leaves, as on Windows: the empty folder its copy
        # ran from, in the user's temporary folder.
        added = sorted(p for p in drive_c(prefix) - files_before
                       if not (re.fullmatch(r"users/[^/]+/Temp/~nsu\d*\.tmp", p)
                               and not os.listdir(os.path.join(prefix, "drive_c", p))))
        if added:
            raise Failure("left behind on drive C: %s" % added)
        registry_after = registry_lines(prefix)
        if registry_after != registry_before:
            raise Failure("left behind in the registry: %s"
                          % sorted(set(registry_after) - set(registry_before)))
        print("  the program, its folder, the shortcut and the entry are gone; drive C: and the"
              " registry are as before the install")
    except Failure as failure:
        print("FAILED: %s" % failure, file=sys.stderr)
        return 1
    print("the installer under Wine: every check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
