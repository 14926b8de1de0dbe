"""Drives the help centre's real window the way assistive technology does: through the
AT-SPI accessibility tree. It reads what a person reads (the label beside a caption, the
lines of a memo, the entries of a list) and acts as a person acts (presses tabs and
buttons, types into edits). Needs a D-Bus session with the accessibility bus and an X
display; tools/offline-session.sh provides both.
"""

import os
import signal
import subprocess
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

WINDOW_TITLE = "Quenmar Helpcentre"
# The window's thread blocks for up to two seconds per echo of the connection test; a
# question asked meanwhile must wait for its answer rather than fail.
Atspi.set_timeout(20000, 30000)


class StepTimeout(AssertionError):
    """What was awaited did not come within the time allowed."""


def _showing(acc):
    try:
        return acc.get_state_set().contains(Atspi.StateType.SHOWING)
    except GLib.Error:
        return False


class Node:
    """One accessible object, with what a test needs to know about it."""

    def __init__(self, acc):
        self.acc = acc
        self.role = acc.get_role()
        self.name = acc.get_name() or ""
        ext = acc.get_extents(Atspi.CoordType.SCREEN)
        self.x, self.y, self.width, self.height = ext.x, ext.y, ext.width, ext.height

    @property
    def right(self):
        return self.x + self.width

    @property
    def bottom(self):
        return self.y + self.height

    def __repr__(self):
        return "<%s %r at %d,%d %dx%d>" % (Atspi.role_get_name(self.role), self.name, self.x, self.y,
                                           self.width, self.height)

    def actions(self):
        # Asked for by the older name, which every version of the library knows.
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", DeprecationWarning)
            return [self.acc.get_action_name(i) for i in range(self.acc.get_n_actions())]

    def do(self, action):
        for i, name in enumerate(self.actions()):
            if name.lower() == action.lower():
                self.acc.do_action(i)
                return
        raise AssertionError("%r offers no action %r, only %r" % (self, action, self.actions()))

    def text(self):
        return self.acc.get_text(0, self.acc.get_character_count())


class HelpCentre:
    """The help centre started as its own process on a given Wine prefix (None: none named,
    as for a player without $WINEPREFIX) and home folder."""

    def __init__(self, program, prefix, home, timeout=60.0):
        self.program = program
        self.prefix = prefix
        self.home = home
        self.timeout = timeout
        self.process = None
        self.app = None

    # -- starting and ending ---------------------------------------------------------

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def start(self):
        env = dict(os.environ, HOME=self.home, QT_QPA_PLATFORM="xcb",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        if self.prefix is None:
            # No prefix named: the program looks for the game in the launchers' prefixes,
            # from the home folder alone.
            for name in ("WINEPREFIX", "XDG_CONFIG_HOME", "XDG_DATA_HOME"):
                env.pop(name, None)
        else:
            env["WINEPREFIX"] = self.prefix
        self.process = subprocess.Popen([self.program], env=env)
        self.app = self.wait_until(self._find_app, "the help centre registers with the accessibility bus")
        self.app.set_cache_mask(Atspi.Cache.NONE)
        self.wait_until(lambda: self.window() is not None, "the help centre's window is shown")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None

    def _find_app(self):
        if self.process.poll() is not None:
            raise AssertionError("the help centre ended (status %s) before it could be reached"
                                 % self.process.returncode)
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_process_id() == self.process.pid:
                return app
        return None

    # -- waiting ---------------------------------------------------------------------

    def wait_until(self, condition, what, timeout=None):
        """Polls `condition` until it answers something true and returns that. A shared,
        busy machine may be slow: the allowance is generous and the poll never sleeps long."""
        deadline = time.monotonic() + (timeout or self.timeout)
        last_error = None
        while True:
            try:
                result = condition()
                if result:
                    return result
            except GLib.Error as e:  # the tree changed under the question; ask again
                last_error = e
            if time.monotonic() > deadline:
                detail = "; last error: %s" % last_error if last_error else ""
                raise StepTimeout("waited in vain for: %s%s\nthe window shows: %s"
                                  % (what, detail, self.describe()))
            time.sleep(0.1)

    # -- reading the tree ------------------------------------------------------------

    def window(self):
        for i in range(self.app.get_child_count()):
            child = self.app.get_child_at_index(i)
            if child is not None and child.get_name() == WINDOW_TITLE and _showing(child):
                return child
        return None

    def showing(self, role=None):
        """Every showing object of the window (of one role if given), in tree order."""
        found = []

        def walk(acc):
            for i in range(acc.get_child_count()):
                child = acc.get_child_at_index(i)
                if child is None or not _showing(child):
                    continue
                if role is None or child.get_role() == role:
                    found.append(Node(child))
                walk(child)

        window = self.window()
        if window is not None:
            walk(window)
        return found

    def labels(self):
        return self.showing(Atspi.Role.LABEL)

    def label(self, caption):
        for node in self.labels():
            if node.name == caption:
                return node
        return None

    def shows(self, caption):
        return self.label(caption) is not None

    def value_beside(self, caption):
        """The label on the caption's line, right of it: what the window says about it."""
        labels = self.labels()
        for node in labels:
            if node.name == caption:
                middle = node.y + node.height // 2
                row = [other for other in labels
                       if other is not node and other.x >= node.right and other.y <= middle < other.bottom]
                row.sort(key=lambda other: other.x)
                return row[0].name if row else None
        return None

    def description_beside(self, caption):
        """The accessible description (a tool tip) of the label right of the caption."""
        labels = self.labels()
        for node in labels:
            if node.name == caption:
                middle = node.y + node.height // 2
                row = [other for other in labels
                       if other is not node and other.x >= node.right and other.y <= middle < other.bottom]
                row.sort(key=lambda other: other.x)
                return row[0].acc.get_description() if row else None
        return None

    def text_below(self, caption):
        """The label right under the caption, starting where it starts."""
        labels = self.labels()
        for node in labels:
            if node.name == caption:
                below = [other for other in labels
                         if other.y >= node.bottom and abs(other.x - node.x) <= 2]
                below.sort(key=lambda other: other.y)
                return below[0].name if below else None
        return None

    def tabs(self):
        return self.showing(Atspi.Role.PAGE_TAB)

    def tab_names(self):
        return [tab.name for tab in self.tabs()]

    def selected_tab(self):
        for tab in self.tabs():
            if tab.acc.get_state_set().contains(Atspi.StateType.SELECTED):
                return tab.name
        return None

    def find(self, role, name):
        for node in self.showing(role):
            if node.name == name:
                return node
        return None

    def describe(self):
        try:
            return repr([n for n in self.showing() if n.role != Atspi.Role.FILLER])
        except GLib.Error as e:
            return "(the tree could not be read: %s)" % e

    # -- acting ----------------------------------------------------------------------

    def press_tab(self, name):
        tab = self.wait_until(lambda: self.find(Atspi.Role.PAGE_TAB, name), "the tab %r" % name)
        tab.do("press")

    def press_button(self, name):
        button = self.wait_until(lambda: self.find(Atspi.Role.PUSH_BUTTON, name), "the button %r" % name)
        button.do("press")

    def edit(self, name):
        return self.wait_until(lambda: self.find(Atspi.Role.TEXT, name), "the edit %r" % name)

    def clear(self, name):
        edit = self.edit(name)
        edit.acc.delete_text(0, edit.acc.get_character_count())

    def type_into(self, name, text):
        """Types `text` at the end of the edit, one character at a time, as a person would:
        the program sees every step of the text."""
        edit = self.edit(name)
        for ch in text:
            position = edit.acc.get_character_count()
            if not edit.acc.insert_text(position, ch, len(ch.encode("utf-8"))):
                raise AssertionError("the edit %r refused the character %r" % (name, ch))

    def list_items(self, combo_name):
        """The entries a combo box offers in its list."""
        combo = self.wait_until(lambda: self.find(Atspi.Role.COMBO_BOX, combo_name),
                                "the combo box %r" % combo_name)
        items = []
        for i in range(combo.acc.get_child_count()):
            child = combo.acc.get_child_at_index(i)
            if child is not None and child.get_role() in (Atspi.Role.LIST, Atspi.Role.LIST_BOX, Atspi.Role.MENU):
                for k in range(child.get_child_count()):
                    item = child.get_child_at_index(k)
                    if item is not None:
                        items.append(item.get_name())
        return items

    def window_id(self):
        """The X window id of the help centre's window, for a picture of it."""
        tree = subprocess.run(["xwininfo", "-root", "-tree"], capture_output=True, text=True, check=True).stdout
        for line in tree.splitlines():
            if '"%s"' % WINDOW_TITLE in line:
                return line.split()[0]
        return None
