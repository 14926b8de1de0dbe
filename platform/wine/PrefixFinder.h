#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace qm {

// Where the players' launchers keep their Wine prefixes: the home folder and the
// variables that move the launchers' folders.
struct PrefixSearch
{
    QString home;
    QString configHome; // $XDG_CONFIG_HOME; home/.config when empty or relative
    QString dataHome;   // $XDG_DATA_HOME; home/.local/share when empty or relative
    QString winePrefix; // $WINEPREFIX; the launchers are not looked at when it is set

    static PrefixSearch ofProcess();
};

// A prefix and the launcher that named it ("Lutris", "Steam", "Bottles", "Heroic",
// "PlayOnLinux"; "$WINEPREFIX"; empty for ~/.wine and a prefix found otherwise).
struct FoundPrefix
{
    QString dir;
    QString launcher;

    // What the player is told of it: "Wine prefix: <folder> (<launcher>)".
    QString description() const;
};

// The prefixes the launchers know, each once (the same folder reached twice counts once),
// in the order Lutris, Steam, Bottles, Heroic, PlayOnLinux, then ~/.wine; within a
// launcher in the order of its files and of the names in its folders. Only the launchers'
// own files and folders are read (never written), and no folder is searched below the
// depth where a launcher keeps its prefixes. Unreadable, damaged, oversized or looping
// launcher files and folders are passed over. Folders that are not prefixes may be among
// them; see choosePrefix.
std::vector<FoundPrefix> launcherPrefixes(const PrefixSearch &search);

// The prefix the game lives in: $WINEPREFIX alone when set; else, of the launchers'
// prefixes, those whose user.reg holds the game's key with a "Directory" value, failing
// that those whose drive C: holds quenmar.exe in one of the game's usual folders, failing
// that ~/.wine. Among several, the one whose user.reg was written last. A prefix whose
// user.reg is missing, unreadable, not a file, too large or damaged is passed over.
FoundPrefix choosePrefix(const PrefixSearch &search, const std::vector<FoundPrefix> &prefixes);

// The prefix that holds a host folder most closely through its drive C: (its drive_c) or
// any of its drive links, among the given prefixes and the prefix whose drive_c the folder
// lies in; `current` when it holds the folder as closely as any other. Nothing when the
// folder does not exist or no other prefix holds it more closely than `current`.
std::optional<FoundPrefix> prefixHolding(const QByteArray &hostFolder,
                                         const std::vector<FoundPrefix> &prefixes,
                                         const QString &current);

} // namespace qm
