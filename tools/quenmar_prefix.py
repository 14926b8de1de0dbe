#!/usr/bin/env python3
"""Builds a throw-away Wine prefix that holds a Quenmar Online installation, laid out the
way Wine and the game lay it out, for trying the help centre and for its end-to-end tests.

As a program: quenmar_prefix.py PREFIX --port PORT [--host HOST] makes the demo prefix.
"""

import argparse
import os
import shutil
import sys

GAME_KEY = "Software\\QuenmarOnline"
DEFAULT_FOLDER = "C:\\Program Files\\QuenmarOnline"
# Fixed stamps keep the file the same from run to run; Wine writes the key's last write
# time (seconds since 1601) after the key name and in a "#time" line.
_STAMP = 1796986389
_TIME = "1dd895dcf977c74"


def _reg_text(text):
    """A registry text quoted as Wine writes it: the C escapes, and \\x with the UTF-16
    unit for what is not ASCII (four digits when a hex digit follows, so it ends there)."""
    out = []
    for i, ch in enumerate(text):
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif ch == "\n":
            out.append("\\n")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\t":
            out.append("\\t")
        elif " " <= ch < "\x7f":
            out.append(ch)
        else:
            follows_hex = i + 1 < len(text) and text[i + 1] in "0123456789abcdefABCDEF"
            data = ch.encode("utf-16-le")
            for k in range(0, len(data), 2):
                unit = data[k] | data[k + 1] << 8
                out.append(("\\x%04x" if follows_hex else "\\x%x") % unit)
    return "".join(out)


def _key_path(path):
    return path.replace("\\", "\\\\")


def write_user_reg(path, key_values=None, accounts=(), with_key=True):
    """Writes user.reg: a few of the keys every prefix has, then the game's key with
    `key_values` (name -> text) and one subkey per account, in the given order."""
    lines = [
        "WINE REGISTRY Version 2",
        ";; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000",
        "",
        "#arch=win64",
        "",
        "[Control Panel\\\\Desktop] %d" % _STAMP,
        "#time=%s" % _TIME,
        '"FontSmoothing"="2"',
        '"WheelScrollLines"="3"',
        "",
        "[Environment] %d" % _STAMP,
        "#time=%s" % _TIME,
        '"TEMP"=str(2):"%USERPROFILE%\\\\AppData\\\\Local\\\\Temp"',
        "",
    ]
    if with_key:
        lines += ["[%s] %d" % (_key_path(GAME_KEY), _STAMP), "#time=%s" % _TIME]
        values = key_values or {}
        if not values:
            lines.append('@=""')
        for name in sorted(values, key=str.lower):
            lines.append('"%s"="%s"' % (_reg_text(name), _reg_text(values[name])))
        lines.append("")
        for account in accounts:
            lines += ["[%s\\\\%s] %d" % (_key_path(GAME_KEY), _reg_text(account), _STAMP),
                      "#time=%s" % _TIME, '@=""', ""]
    lines += ["[Software\\\\Wine\\\\Debug] %d" % _STAMP, "#time=%s" % _TIME, ""]
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines))


def make_prefix(prefix):
    """The bare prefix: drive C: and its dosdevices link. Returns the host path of C:."""
    if os.path.lexists(prefix):
        shutil.rmtree(prefix)
    drive_c = os.path.join(prefix, "drive_c")
    os.makedirs(os.path.join(drive_c, "users", "player"))
    os.makedirs(os.path.join(prefix, "dosdevices"))
    os.symlink("../drive_c", os.path.join(prefix, "dosdevices", "c:"))
    return drive_c


def host_path(prefix, windows_path):
    """The host path of a C: path, as written (the fixtures spell their folders exactly)."""
    assert windows_path[:3].lower() == "c:\\", windows_path
    parts = [p for p in windows_path[3:].split("\\") if p]
    return os.path.join(prefix, "drive_c", *parts)


def make_installation(folder, version, host, port, maps=(), pub=()):
    """A game folder: quenmar.exe, config/setup.ini naming the server, cache files."""
    os.makedirs(os.path.join(folder, "config"), exist_ok=True)
    with open(os.path.join(folder, "quenmar.exe"), "wb") as f:
        f.write(b"MZ")
    # The client writes its header first, then its KEY=VALUE lines, with Windows line ends.
    setup = ["# Quenmar Online %s " % version, "HOST=%s" % host, "PORT=%s" % port,
             "FULLSCREEN=OFF", "SOUND=ON", "MUSIC=ON", "LANGUAGE=0"]
    with open(os.path.join(folder, "config", "setup.ini"), "wb") as f:
        f.write(("\r\n".join(setup) + "\r\n").encode("ascii"))
    for sub, names in (("maps", maps), ("pub", pub)):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)
        for name in names:
            with open(os.path.join(folder, sub, name), "wb") as f:
                f.write(b"\0" * 64)


DEMO_VERSION = "7.4"
DEMO_ACCOUNTS = ("alice", "Bob the Brave")
DEMO_MAPS = ("world.qmf", "dungeon1.qmf", "dungeon2.qmf.bak", "readme.txt")
DEMO_PUB = ("items.dat", "monsters.dat", "spells.dat")


def make_demo_prefix(prefix, port, host="127.0.0.1"):
    """The demo: the game installed in C:\\Program Files\\QuenmarOnline, named by the
    registry, its server at host:port, two accounts and some cache files."""
    make_prefix(prefix)
    write_user_reg(os.path.join(prefix, "user.reg"),
                   {"Directory": DEFAULT_FOLDER, "Version": DEMO_VERSION}, DEMO_ACCOUNTS)
    make_installation(host_path(prefix, DEFAULT_FOLDER), DEMO_VERSION, host, port,
                      DEMO_MAPS, DEMO_PUB)


def make_empty_prefix(prefix):
    """A prefix without the game: the help centre opens on its folder prompt."""
    make_prefix(prefix)
    write_user_reg(os.path.join(prefix, "user.reg"), with_key=False)


LAUNCHERS = ("Lutris", "Steam", "Bottles", "Heroic", "PlayOnLinux")


def _write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def make_launcher_home(home, other, launcher, port, accounts, host="127.0.0.1"):
    """A player's home folder where `launcher` keeps the prefix the game is installed in,
    laid out as that launcher lays it out (`other` stands for a second disk), beside a
    ~/.wine written later that holds other accounts but not the game. Returns the game's
    prefix."""
    if launcher == "Lutris":
        prefix = os.path.join(other, "wine", "quenmar-online")
        _write(os.path.join(home, ".config", "lutris", "games", "quenmar-online-1702000000.yml"),
               "game:\n  exe: %s\n  prefix: %s\ngame_slug: quenmar-online\nname: Quenmar Online\n"
               "runner: wine\nslug: quenmar-online-1702000000\nwine:\n  version: wine-ge-8-26-x86_64\n"
               % (os.path.join(prefix, "drive_c", "Program Files", "QuenmarOnline", "quenmar.exe"), prefix))
    elif launcher == "Steam":
        library = os.path.join(other, "SteamLibrary")
        prefix = os.path.join(library, "steamapps", "compatdata", "2400030", "pfx")
        steam = os.path.join(home, ".local", "share", "Steam")
        _write(os.path.join(steam, "steamapps", "libraryfolders.vdf"),
               '"libraryfolders"\n{\n\t"0"\n\t{\n\t\t"path"\t\t"%s"\n\t\t"apps"\n\t\t{\n\t\t}\n\t}\n'
               '\t"1"\n\t{\n\t\t"path"\t\t"%s"\n\t\t"apps"\n\t\t{\n\t\t\t"2400030"\t\t"734003200"\n'
               '\t\t}\n\t}\n}\n' % (steam, library))
        os.makedirs(os.path.join(home, ".steam"), exist_ok=True)
        os.symlink(steam, os.path.join(home, ".steam", "steam"))
    elif launcher == "Bottles":
        prefix = os.path.join(home, ".local", "share", "bottles", "bottles", "Quenmar-Online")
        _write(os.path.join(prefix, "bottle.yml"), "Name: Quenmar Online\nEnvironment: Gaming\nArch: win64\n")
    elif launcher == "Heroic":
        prefix = os.path.join(other, "Heroic", "Prefixes", "Quenmar Online")
        _write(os.path.join(home, ".config", "heroic", "GamesConfig", "Quenmar.json"),
               '{\n  "Quenmar": {\n    "autoInstallDxvk": true,\n    "winePrefix": "%s",\n'
               '    "wineVersion": {"name": "Wine-GE-Proton8-26", "type": "wine"}\n  },\n'
               '  "version": "v0",\n  "explicit": true\n}\n' % prefix)
    elif launcher == "PlayOnLinux":
        prefix = os.path.join(home, ".PlayOnLinux", "wineprefix", "QuenmarOnline")
    else:
        raise ValueError(launcher)
    make_prefix(prefix)
    write_user_reg(os.path.join(prefix, "user.reg"),
                   {"Directory": DEFAULT_FOLDER, "Version": DEMO_VERSION}, accounts)
    make_installation(host_path(prefix, DEFAULT_FOLDER), DEMO_VERSION, host, port)
    wine = os.path.join(home, ".wine")
    make_prefix(wine)
    write_user_reg(os.path.join(wine, "user.reg"), {}, ("someone else",))
    played = os.stat(os.path.join(prefix, "user.reg")).st_mtime
    os.utime(os.path.join(wine, "user.reg"), (played + 3600, played + 3600))
    return prefix


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("prefix")
    parser.add_argument("--port", type=int, default=7171)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--empty", action="store_true", help="a prefix without the game")
    args = parser.parse_args(argv)
    if args.empty:
        make_empty_prefix(args.prefix)
    else:
        make_demo_prefix(args.prefix, args.port, args.host)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
