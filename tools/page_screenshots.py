#!/usr/bin/env python3
"""Takes a picture of each page of the help centre's window, as a player sees it on the
demo prefix, pressing the tabs through the accessibility tree.

page_screenshots.py PROGRAM OUTPUT_FOLDER writes page-0.png to page-3.png (installation,
connection test once its verdicts are in, cleaner once it ran, password page),
page-4.png (the folder prompt, on a prefix without the game) and screenshot.png (page 0).
Run it through tools/offline-session.sh: it needs a display and the accessibility bus,
and the connection test must not reach the outside network.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # leave no caches in the source tree

import quenmar_prefix as qp  # noqa: E402
from helpcentre_a11y import Atspi, HelpCentre  # noqa: E402


def shoot(window, path):
    # The tree shows the new state at once; the window repaints on its next turn of the
    # event loop. This pause only lets the picture catch up, nothing is judged by it.
    time.sleep(1.0)
    window_id = window.wait_until(window.window_id, "the window's X id")
    subprocess.run(["import", "-window", window_id, path], check=True)
    print("wrote", path)


def main(argv):
    if len(argv) != 2:
        sys.exit("usage: page_screenshots.py PROGRAM OUTPUT_FOLDER")
    program, out = os.path.abspath(argv[0]), os.path.abspath(argv[1])
    os.makedirs(out, exist_ok=True)
    scratch = tempfile.mkdtemp(prefix="qm-shots-")
    server = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "game_server_standin.py")],
                              stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline().rsplit(":", 1)[1])
        home = os.path.join(scratch, "home")
        os.makedirs(home)

        prefix = os.path.join(scratch, "demo")
        qp.make_demo_prefix(prefix, port)
        with HelpCentre(program, prefix, home) as window:
            window.wait_until(lambda: window.value_beside("Current server port") == str(port), "page 0")
            shoot(window, os.path.join(out, "page-0.png"))
            shutil.copyfile(os.path.join(out, "page-0.png"), os.path.join(out, "screenshot.png"))

            window.press_tab("Connection test")
            rows = ("Local tcp loopback test", "Remote tcp ping test", "Testing 127.0.0.1",
                    "Testing TCP port %d" % port)
            window.wait_until(lambda: all(window.value_beside(r) in ("passed", "failed", "error") for r in rows),
                              "the connection test's verdicts", timeout=120)
            shoot(window, os.path.join(out, "page-1.png"))

            window.press_tab("Clean cachefiles")
            window.press_button("start cleaning my files")
            memo = lambda: window.find(Atspi.Role.TEXT, "Cleaner results")  # noqa: E731
            window.wait_until(lambda: memo() and "all done" in memo().text(), "the cleaner's lines")
            shoot(window, os.path.join(out, "page-2.png"))

            window.press_tab("Password recovery help")
            window.wait_until(lambda: window.shows("Your account name"), "the password page")
            shoot(window, os.path.join(out, "page-3.png"))

        empty = os.path.join(scratch, "empty")
        qp.make_empty_prefix(empty)
        with HelpCentre(program, empty, home) as window:
            window.wait_until(lambda: window.shows(
                "Could not detect your Quenmar Online folder, please enter it here.."), "the folder prompt")
            shoot(window, os.path.join(out, "page-4.png"))
    finally:
        server.terminate()
        server.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
