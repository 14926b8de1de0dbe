#!/usr/bin/env python3
"""End-to-end tests of the help centre: the real program on a Wine prefix made here, on a
virtual display, driven and read through the accessibility tree as a screen reader would.

test_helpcentre.py PROGRAM [unittest arguments]. Run it through tests/e2e/run-e2e.sh, which
puts it in a network of its own with only loopback up: the connection test looks public
hosts up by name, and that must reach no one.
"""

import os
import subprocess
import sys
import tempfile
import threading
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "..", "tools")
sys.path.insert(0, TOOLS)
sys.dont_write_bytecode = True  # leave no caches in the source tree

import quenmar_prefix as qp  # noqa: E402
from helpcentre_a11y import Atspi, HelpCentre  # noqa: E402

PROGRAM = None

PROMPT = "Could not detect your Quenmar Online folder, please enter it here.."
WAITING = "Please wait for the test to finish"
IN_PROGRESS = "test in progress.."
INTERNET_BROKEN = "There is something wrong with your internet connection"


class GameServer:
    """The game server stand-in on a free loopback port, its report collected as it comes."""

    def __init__(self):
        self.process = subprocess.Popen([sys.executable, os.path.join(TOOLS, "game_server_standin.py")],
                                        stdout=subprocess.PIPE, text=True)
        first = self.process.stdout.readline()
        if not first.startswith("listening on 127.0.0.1:"):
            raise AssertionError("the game server stand-in did not start: %r" % first)
        self.port = int(first.rsplit(":", 1)[1])
        self.lines = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.append(line.strip())

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=15)
        self._reader.join(timeout=15)
        self.process.stdout.close()


def closed_port():
    """A loopback port on which nothing listens (bound once, then let go)."""
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class HelpCentreTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="qm-e2e-")
        self.addCleanup(self.scratch.cleanup)
        self.prefix = os.path.join(self.scratch.name, "prefix")
        self.home = os.path.join(self.scratch.name, "home")
        os.makedirs(self.home)

    def game_folder(self, windows_path):
        return qp.host_path(self.prefix, windows_path)

    def installed_prefix(self, port, accounts=("alice",), maps=(), pub=(), host="127.0.0.1"):
        qp.make_prefix(self.prefix)
        qp.write_user_reg(os.path.join(self.prefix, "user.reg"),
                          {"Directory": qp.DEFAULT_FOLDER, "Version": "7.4 beta"}, accounts)
        qp.make_installation(self.game_folder(qp.DEFAULT_FOLDER), "7.4", host, port, maps, pub)

    def start(self):
        window = HelpCentre(PROGRAM, self.prefix, self.home)
        window.start()
        self.addCleanup(window.stop)
        return window


class InstallationPage(HelpCentreTest):
    def test_shows_the_installation_that_detection_found(self):
        # (the prefix's registry values, the game's folder, its settings header version,
        #  HOST, PORT) -> (folder, version, host, port) on the first page
        cases = {
            "registry names the folder": (
                {"Directory": "C:\\Program Files\\QuenmarOnline", "Version": "7.4 beta"},
                "C:\\Program Files\\QuenmarOnline", "9.9", "QM.Server.Invalid", "7171",
                ("C:\\Program Files\\QuenmarOnline", "7.4 beta", "qm.server.invalid", "7171")),
            "usual folder, version from the settings header": (
                {}, "C:\\QuenmarOnline", "8.1", "127.0.0.1", "2593",
                ("c:\\QuenmarOnline", "8.1 ", "127.0.0.1", "2593")),
        }
        for name, (values, folder, header, host, port, shown) in cases.items():
            with self.subTest(name):
                qp.make_prefix(self.prefix)
                qp.write_user_reg(os.path.join(self.prefix, "user.reg"), values, ("alice",))
                qp.make_installation(self.game_folder(folder), header, host, port)
                with HelpCentre(PROGRAM, self.prefix, self.home) as window:
                    window.wait_until(lambda: window.shows("Quenmar installation path"), "the first page")
                    self.assertEqual(window.selected_tab(), "Installation information")
                    read = tuple(window.value_beside(caption) for caption in (
                        "Quenmar installation path", "Current client version",
                        "Current server IP", "Current server port"))
                    self.assertEqual(read, shown)


class FolderPrompt(HelpCentreTest):
    def test_holds_the_player_until_a_game_folder_is_typed(self):
        qp.make_empty_prefix(self.prefix)
        qp.make_installation(self.game_folder("C:\\Games\\Quenmar"), "7.9", "127.0.0.1", "7272")
        window = self.start()
        window.wait_until(lambda: window.shows(PROMPT), "the folder prompt")
        self.assertEqual(window.tab_names(), ["Installation information", "Connection test",
                                              "Clean cachefiles", "Password recovery help"])

        for tab in window.tab_names():
            with self.subTest("tab pressed before a folder was accepted", tab=tab):
                window.press_tab(tab)
                self.assertTrue(window.shows(PROMPT), "the prompt must stay after pressing %r" % tab)
                for other_page in ("Quenmar installation path", "Local tcp loopback test",
                                   "Your account name"):
                    self.assertFalse(window.shows(other_page))
                self.assertIsNone(window.selected_tab())

        window.clear("Quenmar folder")
        window.type_into("Quenmar folder", "c:\\Games")
        self.assertTrue(window.shows(PROMPT), "a folder without quenmar.exe is no game folder")

        window.type_into("Quenmar folder", "\\Quenmar")
        window.wait_until(lambda: window.shows("Quenmar installation path"), "the first page after acceptance")
        self.assertFalse(window.shows(PROMPT))
        self.assertEqual(window.selected_tab(), "Installation information")
        self.assertEqual(window.value_beside("Quenmar installation path"), "c:\\Games\\Quenmar")
        self.assertEqual(window.value_beside("Current client version"), "7.9 ")
        self.assertEqual(window.value_beside("Current server port"), "7272")

        # Accepted once, the tabs work.
        window.press_tab("Clean cachefiles")
        window.wait_until(lambda: window.shows("Caution : delete operations will be performed on your harddisk!"),
                          "the cleaner page")


class ConnectionTest(HelpCentreTest):
    def verdicts(self, window, port):
        rows = ("Local tcp loopback test", "Remote tcp ping test", "Testing 127.0.0.1",
                "Testing TCP port %d" % port)
        return tuple(window.value_beside(row) for row in rows)

    def test_reaches_its_verdicts(self):
        # The public hosts cannot be reached here: the internet row fails, and that first
        # problem names the result whatever the port does.
        cases = {
            "game server listening": (True, ("passed", "failed", "passed", "passed")),
            "nothing on the game port": (False, ("passed", "failed", "passed", "failed")),
        }
        for name, (listening, expected) in cases.items():
            with self.subTest(name):
                server = GameServer() if listening else None
                port = server.port if server else closed_port()
                try:
                    self.installed_prefix(port)
                    with HelpCentre(PROGRAM, self.prefix, self.home) as window:
                        window.wait_until(lambda: window.shows("Current server port"), "the first page")
                        window.press_tab("Connection test")
                        window.wait_until(lambda: window.shows("Testing TCP port %d" % port),
                                          "the connection test to start")
                        done = window.wait_until(
                            lambda: (lambda v: v if None not in v and IN_PROGRESS not in v else None)(
                                self.verdicts(window, port)),
                            "all four verdicts", timeout=120)
                        self.assertEqual(done, expected)
                        result = window.text_below("Your test results")
                        self.assertEqual(result, INTERNET_BROKEN)
                        if server:
                            # The test ends by closing its connection.
                            window.wait_until(lambda: any(" left" in line for line in server.lines),
                                              "the connection to be closed", timeout=120)
                            self.assertEqual(sum("connected" in line for line in server.lines), 1)
                        # Opening the page again does not start another test.
                        window.press_tab("Installation information")
                        window.press_tab("Connection test")
                        self.assertEqual(self.verdicts(window, port), expected)
                finally:
                    if server:
                        server.stop()


class Cleaner(HelpCentreTest):
    def test_deletes_the_cache_files_and_lists_them(self):
        maps = ("world.qmf", "cave.qmf.old", "notes.txt")
        pub = ("items.dat", "spells.dat")
        self.installed_prefix(7171, maps=maps, pub=pub)
        window = self.start()
        window.press_tab("Clean cachefiles")
        window.press_button("start cleaning my files")

        memo = lambda: window.find(Atspi.Role.TEXT, "Cleaner results")  # noqa: E731
        last = "all done, try play Quenmar to see if it worked :)"
        text = window.wait_until(lambda: memo() and last in memo().text() and memo().text(),
                                 "the cleaner's last line")
        lines = text.splitlines()
        self.assertEqual(lines[-1], last)
        base = qp.DEFAULT_FOLDER
        self.assertCountEqual(lines[:-1], [
            "removed %s\\maps\\world.qmf" % base,
            "removed %s\\maps\\cave.qmf.old" % base,
            "removed %s\\pub\\items.dat" % base,
            "removed %s\\pub\\spells.dat" % base,
        ])
        folder = self.game_folder(base)
        self.assertEqual(sorted(os.listdir(os.path.join(folder, "maps"))), ["notes.txt"])
        self.assertEqual(os.listdir(os.path.join(folder, "pub")), [])
        self.assertIsNone(window.find(Atspi.Role.PUSH_BUTTON, "start cleaning my files"))
        self.assertTrue(window.shows("Cleaner results"))


class LauncherPrefixes(HelpCentreTest):
    def test_finds_the_game_in_each_launchers_prefix(self):
        # No prefix named: the game's prefix is found from the home folder, and its accounts
        # (not those of ~/.wine, written later) are offered.
        accounts = ("alice", "Bob the Brave")
        for launcher in qp.LAUNCHERS:
            with self.subTest(launcher):
                with tempfile.TemporaryDirectory(prefix="qm-e2e-home-") as scratch:
                    home = os.path.join(scratch, "home")
                    prefix = qp.make_launcher_home(home, os.path.join(scratch, "disk"), launcher, 7171, accounts)
                    with HelpCentre(PROGRAM, None, home) as window:
                        window.wait_until(lambda: window.shows("Quenmar installation path"), "the first page")
                        self.assertEqual(window.selected_tab(), "Installation information")
                        read = tuple(window.value_beside(caption) for caption in (
                            "Quenmar installation path", "Current client version",
                            "Current server IP", "Current server port"))
                        self.assertEqual(read, (qp.DEFAULT_FOLDER, qp.DEMO_VERSION, "127.0.0.1", "7171"))
                        self.assertEqual(window.description_beside("Quenmar installation path"),
                                         "Wine prefix: %s (%s)" % (prefix, launcher))
                        window.press_tab("Password recovery help")
                        items = window.wait_until(lambda: window.list_items("Your account name"), "the account list")
                        self.assertEqual(items, list(accounts))


class PasswordPage(HelpCentreTest):
    def test_offers_the_accounts_of_the_registry(self):
        accounts = ("alice", "Bob the Brave", "Zo\u00eb")
        self.installed_prefix(7171, accounts=accounts)
        window = self.start()
        window.press_tab("Password recovery help")
        window.wait_until(lambda: window.shows("Your account name"), "the password page")
        items = window.wait_until(lambda: window.list_items("Your account name"), "the account list")
        self.assertEqual(items, list(accounts))
        # The list is offered; both entries are left empty for the player.
        combo = window.find(Atspi.Role.COMBO_BOX, "Your account name")
        entries = [combo.acc.get_child_at_index(i) for i in range(combo.acc.get_child_count())]
        entries = [e for e in entries if e is not None and e.get_role() == Atspi.Role.TEXT]
        self.assertEqual(len(entries), 1)
        self.assertEqual(entries[0].get_text(0, entries[0].get_character_count()), "")
        self.assertEqual(window.find(Atspi.Role.TEXT, "Your realname OR location").text(), "")


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: %s PROGRAM [unittest arguments]" % sys.argv[0])
    PROGRAM = os.path.abspath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"] + sys.argv[2:])
