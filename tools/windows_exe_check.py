#!/usr/bin/env python3
"""Runs the real quenmar-helpcentre.exe under Wine, on the display and in the Wine prefix
of the environment (DISPLAY, WINEPREFIX), and checks what a player sees:

1. the game's key written with Wine's own `reg add` (folder, version, two accounts), the
   installation on drive C: and a game server stand-in on 127.0.0.1: page 0 shows the
   folder, version, host and port; the connection test reaches the stand-in; the cleaner
   empties the cache folders;
2. no key at all: the window opens on the folder prompt, and afterwards the key exists,
   empty, in the prefix's registry;
3. a number as "Directory": the error box "Invalid data type for 'Directory'" appears,
   captioned with the application title.

What a window shows is read from its picture (tesseract, on the picture enlarged three
times), since the program has no other outlet. With --screenshots DIR, each page's picture
is saved there as windows-<n>.png.

windows_exe_check.py --exe PATH --work DIR [--screenshots DIR]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import quenmar_prefix  # noqa: E402

GAME_KEY = "HKCU\\Software\\QuenmarOnline"
FOLDER = "C:\\Program Files\\QuenmarOnline"
FORM_CAPTION = "Quenmar Helpcentre"
APPLICATION_TITLE = "Quenmar HelpCentre"
TAB_Y = 78  # the middle of the tab strip, in the window


class Failure(Exception):
    pass


def run(*command, check=True, **kwargs):
    return subprocess.run(command, check=check, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          text=True, **kwargs)


def reg(*args, check=True):
    return run("wine", "reg", *args, check=check)


def find_window(name, timeout=60):
    deadline = time.time() + timeout
    while time.time() < deadline:
        found = run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % re.escape(name), check=False)
        ids = found.stdout.split()
        if ids:
            return ids[-1]
        time.sleep(0.25)
    raise Failure("no window named %r appeared within %d s" % (name, timeout))


def picture(window, path):
    run("import", "-window", window, path)
    return path


def read_text(path):
    """The words in a picture, as tesseract reads them from it enlarged three times."""
    big = path + ".big.png"
    run("convert", path, "-colorspace", "Gray", "-resize", "300%", big)
    text = run("tesseract", big, "-", "--psm", "6").stdout
    os.remove(big)
    return " ".join(text.split())


def expect_text(path, wanted):
    # Blanks are compared away: the reading puts one between "127" and ".0" at times.
    text = read_text(path)
    squeezed = "".join(text.split())
    missing = [w for w in wanted if "".join(w.split()) not in squeezed]
    if missing:
        raise Failure("%s does not show %s; it reads: %s" % (os.path.basename(path), missing, text))
    print("  %s shows %s" % (os.path.basename(path), ", ".join(repr(w) for w in wanted)))


def click(window, x, y):
    run("xdotool", "mousemove", "--window", window, str(x), str(y), "click", "1")


def start(exe, work, name):
    log = open(os.path.join(work, name + ".log"), "w")
    return subprocess.Popen(["wine", exe], stdout=log, stderr=subprocess.STDOUT)


def stop(process, window):
    # Alt+F4 to the focused window, as a player closes it; it goes through the window's own
    # close, where destroying its X window would not.
    run("xdotool", "windowfocus", window, check=False)
    run("xdotool", "key", "alt+F4", check=False)
    try:
        process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        process.kill()
    run("wineserver", "-w", check=False)


def scenario_installed(exe, work, shots, port):
    print("== the game's key written by reg add, a game server on 127.0.0.1:%d" % port)
    reg("delete", GAME_KEY, "/f", check=False)
    reg("add", GAME_KEY, "/v", "Directory", "/t", "REG_SZ", "/d", FOLDER, "/f")
    reg("add", GAME_KEY, "/v", "Version", "/t", "REG_SZ", "/d", "7.4", "/f")
    for account in ("alice", "Bob the Brave"):
        reg("add", GAME_KEY + "\\" + account, "/f")
    folder = quenmar_prefix.host_path(os.environ["WINEPREFIX"], FOLDER)
    quenmar_prefix.make_installation(folder, "7.4", "127.0.0.1", port,
                                     quenmar_prefix.DEMO_MAPS, quenmar_prefix.DEMO_PUB)

    process = start(exe, work, "installed")
    window = find_window(FORM_CAPTION)
    time.sleep(1)
    expect_text(picture(window, os.path.join(shots, "windows-0.png")),
                [FOLDER, "7.4", "127.0.0.1", str(port)])

    # The pages by their tabs: the strip's left part belongs to the first tab, and the
    # arrow keys move on from there.
    click(window, 30, TAB_Y)
    run("xdotool", "key", "--window", window, "Right")
    time.sleep(6)  # the whole schedule, 3.3 s, with room
    expect_text(picture(window, os.path.join(shots, "windows-1.png")),
                ["Local tcp loopback test passed", "Testing TCP port %d passed" % port])

    run("xdotool", "key", "--window", window, "Right")
    time.sleep(1)
    click(window, 74, 92 + 96 + 8)  # the cleaner's button
    time.sleep(2)
    expect_text(picture(window, os.path.join(shots, "windows-2.png")), ["all done"])
    left = sorted(os.listdir(os.path.join(folder, "maps"))) + sorted(os.listdir(os.path.join(folder, "pub")))
    if left != ["readme.txt"]:
        raise Failure("the cache folders still hold %s" % left)
    print("  the cache folders are empty but for readme.txt")

    run("xdotool", "key", "--window", window, "Right")
    time.sleep(1)
    expect_text(picture(window, os.path.join(shots, "windows-3.png")), ["password"])
    stop(process, window)


def scenario_no_key(exe, work, shots):
    print("== no game key, and no installation in the usual folders")
    shutil.rmtree(quenmar_prefix.host_path(os.environ["WINEPREFIX"], FOLDER), ignore_errors=True)
    reg("delete", GAME_KEY, "/f", check=False)
    if reg("query", GAME_KEY, check=False).returncode == 0:
        raise Failure("the key could not be removed beforehand")
    process = start(exe, work, "nokey")
    window = find_window(FORM_CAPTION)
    time.sleep(1)
    expect_text(picture(window, os.path.join(shots, "windows-4.png")),
                ["Could not detect your Quenmar Online folder"])
    stop(process, window)
    query = reg("query", GAME_KEY, check=False)
    if query.returncode != 0:
        raise Failure("the key was not created: %s" % query.stderr.strip())
    values = [line for line in query.stdout.splitlines() if "REG_" in line]
    if values:
        raise Failure("the created key is not empty: %s" % values)
    print("  the key exists afterwards, empty")


def scenario_number(exe, work, shots):
    print("== a number as Directory")
    reg("delete", GAME_KEY, "/f", check=False)
    reg("add", GAME_KEY, "/v", "Directory", "/t", "REG_DWORD", "/d", "42", "/f")
    process = start(exe, work, "number")
    box = find_window(APPLICATION_TITLE)
    time.sleep(1)
    expect_text(picture(box, os.path.join(work, "number-box.png")), ["Invalid data type for 'Directory'"])
    run("xdotool", "key", "--window", box, "Return")
    window = find_window(FORM_CAPTION)
    stop(process, window)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--screenshots")
    args = parser.parse_args(argv)
    shots = args.screenshots or os.path.join(args.work, "pictures")
    os.makedirs(shots, exist_ok=True)

    here = os.path.dirname(os.path.abspath(__file__))
    port_file = os.path.join(args.work, "server.port")
    server = subprocess.Popen([sys.executable, os.path.join(here, "game_server_standin.py"),
                               "--port-file", port_file], stdout=subprocess.DEVNULL)
    try:
        deadline = time.time() + 10
        while not (os.path.exists(port_file) and open(port_file).read().strip()):
            if time.time() > deadline:
                raise Failure("the game server stand-in did not start")
            time.sleep(0.1)
        port = int(open(port_file).read())
        scenario_installed(args.exe, args.work, shots, port)
        scenario_no_key(args.exe, args.work, shots)
        scenario_number(args.exe, args.work, shots)
    except Failure as failure:
        print("FAILED: %s" % failure, file=sys.stderr)
        return 1
    finally:
        server.terminate()
    print("the real program under Wine: every check passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
