// Finding the game's prefix on a home folder with 200 prefixes, 40 for each launcher
// (Lutris game files, Steam's compatdata in a second library, Bottles, Heroic's game
// settings, PlayOnLinux), each with a user.reg of about 100 KB. Timed: listing the
// launchers' prefixes and choosing among them, (a) when one prefix holds the game's key,
// (b) when none does and every prefix's drive C: is looked at for the game's folder.
// Prints medians of several runs with the files in the page cache.

#include "platform/wine/PrefixFinder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QByteArray hive(bool withGame)
{
    QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n";
    for (int i = 0; text.size() < 100 * 1024; ++i) {
        text += "[Software\\\\Vendor" + QByteArray::number(i % 37) + "\\\\Application" + QByteArray::number(i)
            + "] 1700000000\n#time=1da0000000000000\n\"Path\"=\"C:\\\\Program Files\\\\Vendor\\\\App"
            + QByteArray::number(i) + "\"\n\"Count\"=dword:0000002a\n\"Data\"=hex:00,11,22,33,44,55,66,77,88,99,aa,bb,cc,dd,ee,ff\n\n";
    }
    if (withGame)
        text += "[Software\\\\QuenmarOnline] 1700000000\n#time=1da0000000000000\n\"Directory\"=\"C:\\\\Games\\\\Quenmar\"\n\n";
    return text;
}

void write(const QString &path, const QByteArray &text)
{
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

void makePrefix(const QString &dir, const QByteArray &userReg)
{
    QDir().mkpath(dir + QStringLiteral("/dosdevices"));
    QDir().mkpath(dir + QStringLiteral("/drive_c/Program Files/Common Files"));
    QDir().mkpath(dir + QStringLiteral("/drive_c/windows/system32"));
    QFile::link(QStringLiteral("../drive_c"), dir + QStringLiteral("/dosdevices/c:"));
    QFile::link(QStringLiteral("/"), dir + QStringLiteral("/dosdevices/z:"));
    write(dir + QStringLiteral("/user.reg"), userReg);
}

// The home folder; the prefix with the game's key, when `gameAt` is one of 0 to 199.
void makeHome(const QString &root, int gameAt)
{
    const QString home = root + QStringLiteral("/home");
    const QByteArray plain = hive(false);
    const QByteArray game = hive(true);
    QByteArray libraries = "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + QFile::encodeName(home)
        + "/.local/share/Steam\"\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + QFile::encodeName(root)
        + "/library\"\n\t}\n}\n";
    write(home + QStringLiteral("/.local/share/Steam/steamapps/libraryfolders.vdf"), libraries);
    for (int i = 0; i < 200; ++i) {
        const QByteArray &userReg = i == gameAt ? game : plain;
        const QString n = QString::number(i);
        switch (i % 5) {
        case 0:
            makePrefix(root + QStringLiteral("/lutris/game") + n, userReg);
            write(home + QStringLiteral("/.config/lutris/games/game") + n + QStringLiteral(".yml"),
                  "game:\n  exe: drive_c/game.exe\n  prefix: " + QFile::encodeName(root) + "/lutris/game"
                      + n.toUtf8() + "\ngame_slug: game" + n.toUtf8() + "\nname: Game " + n.toUtf8()
                      + "\nwine:\n  version: wine-ge-8-26-x86_64\n");
            break;
        case 1:
            makePrefix(root + QStringLiteral("/library/steamapps/compatdata/") + QString::number(2400000 + i)
                           + QStringLiteral("/pfx"),
                       userReg);
            break;
        case 2:
            makePrefix(home + QStringLiteral("/.local/share/bottles/bottles/Bottle") + n, userReg);
            break;
        case 3:
            makePrefix(root + QStringLiteral("/heroic/Game") + n, userReg);
            write(home + QStringLiteral("/.config/heroic/GamesConfig/Game") + n + QStringLiteral(".json"),
                  "{\"Game" + n.toUtf8() + "\": {\"autoInstallDxvk\": true, \"winePrefix\": \""
                      + QFile::encodeName(root) + "/heroic/Game" + n.toUtf8()
                      + "\", \"wineVersion\": {\"name\": \"Wine-GE\", \"type\": \"wine\"}}, \"version\": \"v0\"}\n");
            break;
        case 4:
            makePrefix(home + QStringLiteral("/.PlayOnLinux/wineprefix/Game") + n, userReg);
            break;
        }
    }
}

struct Timing
{
    double listMs;
    double chooseMs;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Medians of listing the launchers' prefixes and of choosing among them.
Timing timed(const qm::PrefixSearch &search, int runs, size_t &found, QString &chosen)
{
    std::vector<double> listing;
    std::vector<double> choosing;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const std::vector<qm::FoundPrefix> prefixes = qm::launcherPrefixes(search);
        listing.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        const qm::FoundPrefix choice = qm::choosePrefix(search, prefixes);
        choosing.push_back(double(timer.nsecsElapsed()) / 1e6);
        found = prefixes.size();
        chosen = choice.dir;
    }
    return {median(listing), median(choosing)};
}

} // namespace

int main()
{
    const int runs = 11;
    for (const int gameAt : {117, -1}) {
        QTemporaryDir root;
        makeHome(root.path(), gameAt);
        const qm::PrefixSearch search{root.path() + QStringLiteral("/home"), QString(), QString(), QString()};
        size_t found = 0;
        QString chosen;
        const Timing t = timed(search, runs, found, chosen);
        std::printf("   %-44s %3zu prefixes: listed %6.2f ms, chosen %6.2f ms, together %6.2f ms\n"
                    "   %-44s (medians of %d; chose %s)\n",
                    gameAt >= 0 ? "one prefix holds the game's key" : "none holds the game (drives C: looked at)",
                    found, t.listMs, t.chooseMs, t.listMs + t.chooseMs, "", runs,
                    qPrintable(QDir(root.path()).relativeFilePath(chosen)));
    }
    return 0;
}
