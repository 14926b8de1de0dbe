// Finding the prefix the game lives in, on home folders laid out like the launchers'
// players' own: each launcher's files and folders, the choice among several prefixes,
// $WINEPREFIX, hostile launcher files and prefixes, and the prefix a folder lies in.

#include "LauncherHome.h"

#include "platform/wine/PrefixFinder.h"

#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

using Game = LauncherHome::Game;

namespace {

const QByteArray lutrisGame = R"(game:
  exe: drive_c/Games/Quenmar/quenmar.exe
  prefix: @PREFIX@
game_slug: quenmar-online
name: Quenmar Online
requires: null
slug: quenmar-online-1702000000
system:
  env:
    DXVK_HUD: '0'
wine:
  version: wine-ge-8-26-x86_64
year: 2003
)";

const QByteArray libraryFolders = R"("libraryfolders"
{
	"0"
	{
		"path"		"@HOME@/.local/share/Steam"
		"label"		""
		"contentid"		"4411873402738453021"
		"totalsize"		"0"
		"apps"
		{
			"228980"		"318394213"
		}
	}
	"1"
	{
		"path"		"@OTHER@/SteamLibrary"
		"label"		"games disk"
		"contentid"		"7261839462384716273"
		"totalsize"		"982345183232"
		"apps"
		{
			"2400030"		"734003200"
		}
	}
}
)";

const QByteArray oldLibraryFolders = R"("LibraryFolders"
{
	"TimeNextStatsReport"		"1702000000"
	"ContentStatsID"		"-4411873402738453021"
	"1"		"@OTHER@/SteamLibrary"
}
)";

const QByteArray heroicGame = R"({
  "Quenmar": {
    "autoInstallDxvk": true,
    "enableEsync": true,
    "nvidiaPrime": false,
    "wineCrossoverBottle": "Heroic",
    "winePrefix": "@PREFIX@",
    "wineVersion": {
      "bin": "@HOME@/.config/heroic/tools/wine/Wine-GE-Proton8-26/bin/wine",
      "name": "Wine - Wine-GE-Proton8-26",
      "type": "wine"
    }
  },
  "version": "v0",
  "explicit": true
}
)";

QByteArray withPrefix(QByteArray text, const QByteArray &prefix)
{
    return text.replace("@PREFIX@", prefix);
}

// Makes a hostile entry in place of a file: a pipe nobody writes to, an endless device,
// a link to itself, a folder, or a file even root cannot read.
bool plant(const QByteArray &path, const QString &kind)
{
    ::unlink(path.constData());
    if (kind == QLatin1String("pipe"))
        return ::mkfifo(path.constData(), 0644) == 0;
    if (kind == QLatin1String("endless device"))
        return ::symlink("/dev/zero", path.constData()) == 0;
    if (kind == QLatin1String("link to itself"))
        return ::symlink(path.constData(), path.constData()) == 0;
    if (kind == QLatin1String("folder"))
        return ::mkdir(path.constData(), 0755) == 0;
    if (kind == QLatin1String("unreadable")) {
        // A regular file whose reading fails, for root too.
        if (::geteuid() == 0)
            return ::symlink("/proc/self/mem", path.constData()) == 0;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0);
        return fd >= 0 && ::close(fd) == 0;
    }
    return false;
}

} // namespace

class TestPrefixFinder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void eachLauncher_data();
    void eachLauncher();
    void choiceAmongSeveral_data();
    void choiceAmongSeveral();
    void winePrefixAlone();
    void eachPrefixOnce();
    void hostileLauncherFiles_data();
    void hostileLauncherFiles();
    void prefixHolding_data();
    void prefixHolding();
    void description();
};

void TestPrefixFinder::eachLauncher_data()
{
    QTest::addColumn<QString>("prefix");   // where the game lives, below the test's root
    QTest::addColumn<int>("holds");        // Game::Key or Game::Folder
    QTest::addColumn<QStringList>("files"); // launcher files: path, text, path, text ...
    QTest::addColumn<QString>("configHome");
    QTest::addColumn<QString>("dataHome");
    QTest::addColumn<QString>("launcher");

    const int key = int(Game::Key);
    const int folder = int(Game::Folder);
    const QString none;
    auto text = [](const QByteArray &bytes) { return QString::fromUtf8(bytes); };

    QTest::newRow("Lutris: the game's file names its prefix")
        << "other/wine/quenmar" << key
        << QStringList{"home/.config/lutris/games/quenmar-online-1702000000.yml",
                       text(withPrefix(lutrisGame, "@OTHER@/wine/quenmar"))}
        << none << none << "Lutris";
    QTest::newRow("Lutris: a prefix under ~")
        << "home/wine-prefixes/quenmar" << folder
        << QStringList{"home/.config/lutris/games/quenmar.yml", text(withPrefix(lutrisGame, "~/wine-prefixes/quenmar"))}
        << none << none << "Lutris";
    QTest::newRow("Lutris: game files in the data folder")
        << "other/wine/quenmar" << key
        << QStringList{"home/.local/share/lutris/games/quenmar.yml", text(withPrefix(lutrisGame, "@OTHER@/wine/quenmar"))}
        << none << none << "Lutris";
    QTest::newRow("Lutris: $XDG_CONFIG_HOME")
        << "other/wine/quenmar" << key
        << QStringList{"xdg-config/lutris/games/quenmar.yml", text(withPrefix(lutrisGame, "@OTHER@/wine/quenmar"))}
        << "xdg-config" << none << "Lutris";
    QTest::newRow("Lutris: the default Games folder")
        << "home/Games/quenmar-online" << folder << QStringList() << none << none << "Lutris";
    QTest::newRow("Steam: a second library on another disk")
        << "other/SteamLibrary/steamapps/compatdata/2400030/pfx" << key
        << QStringList{"home/.local/share/Steam/steamapps/libraryfolders.vdf", text(libraryFolders)}
        << none << none << "Steam";
    QTest::newRow("Steam: the library list of before 2021")
        << "other/SteamLibrary/steamapps/compatdata/2400030/pfx" << key
        << QStringList{"home/.steam/steam/steamapps/libraryfolders.vdf", text(oldLibraryFolders)}
        << none << none << "Steam";
    QTest::newRow("Steam: the main library")
        << "home/.local/share/Steam/steamapps/compatdata/2400030/pfx" << folder
        << QStringList{"home/.local/share/Steam/steamapps/libraryfolders.vdf", text(libraryFolders)}
        << none << none << "Steam";
    QTest::newRow("Steam: Flatpak")
        << "other/SteamLibrary/steamapps/compatdata/2400030/pfx" << key
        << QStringList{"home/.var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/libraryfolders.vdf",
                       text(libraryFolders)}
        << none << none << "Steam";
    QTest::newRow("Bottles")
        << "home/.local/share/bottles/bottles/Quenmar-Online" << key << QStringList() << none << none << "Bottles";
    QTest::newRow("Bottles: $XDG_DATA_HOME")
        << "xdg-data/bottles/bottles/Games" << folder << QStringList() << none << "xdg-data" << "Bottles";
    QTest::newRow("Bottles: Flatpak")
        << "home/.var/app/com.usebottles.bottles/data/bottles/bottles/Quenmar" << key << QStringList()
        << none << none << "Bottles";
    QTest::newRow("Heroic: the game's settings name its prefix")
        << "other/heroic/Quenmar" << key
        << QStringList{"home/.config/heroic/GamesConfig/Quenmar.json", text(withPrefix(heroicGame, "@OTHER@/heroic/Quenmar"))}
        << none << none << "Heroic";
    QTest::newRow("Heroic: Flatpak settings")
        << "other/heroic/Quenmar" << folder
        << QStringList{"home/.var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig/Quenmar.json",
                       text(withPrefix(heroicGame, "@OTHER@/heroic/Quenmar"))}
        << none << none << "Heroic";
    QTest::newRow("Heroic: the default Prefixes folder")
        << "home/Games/Heroic/Prefixes/default/Quenmar Online" << key << QStringList() << none << none << "Heroic";
    QTest::newRow("PlayOnLinux")
        << "home/.PlayOnLinux/wineprefix/QuenmarOnline" << key << QStringList() << none << none << "PlayOnLinux";
}

void TestPrefixFinder::eachLauncher()
{
    QFETCH(QString, prefix);
    QFETCH(int, holds);
    QFETCH(QStringList, files);
    QFETCH(QString, configHome);
    QFETCH(QString, dataHome);
    QFETCH(QString, launcher);

    LauncherHome home;
    QVERIFY(home.makePrefix(prefix, Game(holds), 100));
    // ~/.wine, written later, without the game; and a prefix of another game beside.
    QVERIFY(home.makePrefix(QStringLiteral("home/.wine"), Game::Nothing, 900));
    QVERIFY(home.makePrefix(QStringLiteral("home/.local/share/bottles/bottles/Other-Game"), Game::Nothing, 800));
    for (qsizetype i = 0; i + 1 < files.size(); i += 2)
        QVERIFY(home.writeFile(files.at(i), files.at(i + 1).toUtf8()));

    qm::PrefixSearch search = home.search();
    if (!configHome.isEmpty())
        search.configHome = home.at(configHome);
    if (!dataHome.isEmpty())
        search.dataHome = home.at(dataHome);
    const qm::FoundPrefix chosen = qm::choosePrefix(search, qm::launcherPrefixes(search));
    QCOMPARE(chosen.dir, home.at(prefix));
    QCOMPARE(chosen.launcher, launcher);
}

void TestPrefixFinder::choiceAmongSeveral_data()
{
    // Prefixes as "name kind seconds": Bottles bottles, or ~/.wine for ".wine". Kinds other
    // than the Game ones are prefixes holding the game folder whose user.reg is hostile.
    QTest::addColumn<QStringList>("prefixes");
    QTest::addColumn<QString>("chosen");

    QTest::newRow("the key written last") << QStringList{"a key 100", "b key 300", "c key 200"} << "b";
    QTest::newRow("the key written last, listed first") << QStringList{"a key 300", "b key 100"} << "a";
    QTest::newRow("a key beats a folder written later") << QStringList{"a folder 500", "b key 100"} << "b";
    QTest::newRow("a key without Directory is no key") << QStringList{"a accounts 500", "b folder 100"} << "b";
    QTest::newRow("the folder written last") << QStringList{"a folder 100", "b folder 300", "c nothing 900"} << "b";
    QTest::newRow("~/.wine written last") << QStringList{"a key 100", ".wine key 300"} << ".wine";
    QTest::newRow("~/.wine written first") << QStringList{"a key 300", ".wine key 100"} << "a";
    QTest::newRow("no game anywhere: ~/.wine") << QStringList{"a nothing 100", "b accounts 200"} << ".wine";
    QTest::newRow("no prefix at all: ~/.wine") << QStringList() << ".wine";
    QTest::newRow("damaged hive") << QStringList{"a key 100", "b damaged 900"} << "a";
    QTest::newRow("hive of another version") << QStringList{"a key 100", "b version-3 900"} << "a";
    QTest::newRow("hive is a pipe") << QStringList{"a key 100", "b pipe 900"} << "a";
    QTest::newRow("hive is an endless device") << QStringList{"a key 100", "b endless-device 900"} << "a";
    QTest::newRow("hive links to itself") << QStringList{"a key 100", "b link-to-itself 900"} << "a";
    QTest::newRow("hive is a folder") << QStringList{"a folder 100", "b folder-hive 900"} << "a";
    QTest::newRow("hive cannot be read") << QStringList{"a folder 100", "b unreadable 900"} << "a";
    QTest::newRow("prefix links to itself") << QStringList{"a key 100", "b looping-prefix 900"} << "a";
}

void TestPrefixFinder::choiceAmongSeveral()
{
    QFETCH(QStringList, prefixes);
    QFETCH(QString, chosen);

    LauncherHome home;
    auto place = [&](const QString &name) {
        return name == QLatin1String(".wine") ? QStringLiteral("home/.wine")
                                              : QStringLiteral("home/.local/share/bottles/bottles/") + name;
    };
    for (const QString &row : prefixes) {
        const QStringList parts = row.split(QLatin1Char(' '));
        const QString where = place(parts.at(0));
        const QString kind = parts.at(1);
        const int written = parts.at(2).toInt();
        const QByteArray hive = home.host(where + QStringLiteral("/user.reg"));
        if (kind == QLatin1String("key")) {
            QVERIFY(home.makePrefix(where, Game::Key, written));
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(home.makePrefix(where, Game::Folder, written));
        } else if (kind == QLatin1String("accounts")) {
            QVERIFY(home.makePrefix(where, Game::Accounts, written));
        } else if (kind == QLatin1String("nothing")) {
            QVERIFY(home.makePrefix(where, Game::Nothing, written));
        } else if (kind == QLatin1String("damaged")) {
            QVERIFY(home.makePrefix(where, Game::Key, written));
            const QByteArray text = LauncherHome::userReg(Game::Key);
            QVERIFY(home.writeFile(where + QStringLiteral("/user.reg"), text.left(text.indexOf("C:\\\\Games"))));
            QVERIFY(home.setWritten(where + QStringLiteral("/user.reg"), written));
        } else if (kind == QLatin1String("version-3")) {
            QVERIFY(home.makePrefix(where, Game::Key, written));
            QVERIFY(home.writeFile(where + QStringLiteral("/user.reg"),
                                   LauncherHome::userReg(Game::Key).replace("Version 2", "Version 3")));
            QVERIFY(home.setWritten(where + QStringLiteral("/user.reg"), written));
        } else if (kind == QLatin1String("looping-prefix")) {
            QDir().mkpath(home.at(QStringLiteral("home/.local/share/bottles/bottles")));
            QVERIFY(::symlink(home.host(where).constData(), home.host(where).constData()) == 0);
        } else {
            // The game's folder is there; only the hive is hostile.
            QVERIFY(home.makePrefix(where, Game::Folder, written));
            QVERIFY(plant(hive, QString(kind).replace(QLatin1Char('-'), QLatin1Char(' ')).replace(
                                    QLatin1String("folder hive"), QLatin1String("folder"))));
        }
    }

    const qm::FoundPrefix found = qm::choosePrefix(home.search(), qm::launcherPrefixes(home.search()));
    QCOMPARE(found.dir, home.at(place(chosen)));
    QCOMPARE(found.launcher, chosen == QLatin1String(".wine") ? QString() : QStringLiteral("Bottles"));
}

void TestPrefixFinder::winePrefixAlone()
{
    LauncherHome home;
    QVERIFY(home.makePrefix(QStringLiteral("home/.local/share/bottles/bottles/Quenmar"), Game::Key, 900));
    QVERIFY(home.makePrefix(QStringLiteral("home/.wine"), Game::Key, 800));
    QVERIFY(home.makePrefix(QStringLiteral("other/set"), Game::Nothing, 100));
    qm::PrefixSearch search = home.search();
    search.winePrefix = home.at(QStringLiteral("other/set"));

    const qm::FoundPrefix found = qm::choosePrefix(search, qm::launcherPrefixes(search));
    QCOMPARE(found.dir, home.at(QStringLiteral("other/set")));
    QCOMPARE(found.launcher, QStringLiteral("$WINEPREFIX"));

    // Even a folder that is no prefix at all.
    search.winePrefix = home.at(QStringLiteral("other/missing"));
    QCOMPARE(qm::choosePrefix(search, {}).dir, home.at(QStringLiteral("other/missing")));
}

void TestPrefixFinder::eachPrefixOnce()
{
    // ~/.steam/steam is a link to ~/.local/share/Steam, whose library list names itself and
    // a library reached through a link; a Lutris game names a bottle.
    LauncherHome home;
    const QString pfx = QStringLiteral("home/.local/share/Steam/steamapps/compatdata/2400030/pfx");
    QVERIFY(home.makePrefix(pfx, Game::Key, 100));
    QVERIFY(home.makePrefix(QStringLiteral("home/.local/share/bottles/bottles/Quenmar"), Game::Nothing, 200));
    QDir().mkpath(home.at(QStringLiteral("home/.steam")));
    QVERIFY(QFile::link(home.at(QStringLiteral("home/.local/share/Steam")), home.at(QStringLiteral("home/.steam/steam"))));
    QVERIFY(QFile::link(home.at(QStringLiteral("home/.local/share/Steam")), home.at(QStringLiteral("other/SteamLibrary"))));
    QVERIFY(home.writeFile(QStringLiteral("home/.local/share/Steam/steamapps/libraryfolders.vdf"), libraryFolders));
    QVERIFY(home.writeFile(QStringLiteral("home/.config/lutris/games/q.yml"),
                           withPrefix(lutrisGame, "@HOME@/.local/share/bottles/bottles/Quenmar/")));

    const std::vector<qm::FoundPrefix> found = qm::launcherPrefixes(home.search());
    QStringList dirs;
    for (const qm::FoundPrefix &prefix : found)
        dirs.append(prefix.launcher + QLatin1Char(' ') + prefix.dir);
    // The Lutris file names the bottle first; Steam's prefix is found through its first root.
    QCOMPARE(dirs, (QStringList{QStringLiteral("Lutris ") + home.at(QStringLiteral("home/.local/share/bottles/bottles/Quenmar/")),
                                QStringLiteral("Steam ") + home.at(QStringLiteral("home/.steam/steam/steamapps/compatdata/2400030/pfx"))}));
}

void TestPrefixFinder::hostileLauncherFiles_data()
{
    // A launcher file made hostile; had it been read as a launcher writes it, it would name
    // other/hidden, which holds the game and was written last.
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("kind"); // "text", or a kind of entry for plant()
    QTest::addColumn<QByteArray>("text");

    const QString lutris = QStringLiteral("home/.config/lutris/games/quenmar.yml");
    const QString steam = QStringLiteral("home/.local/share/Steam/steamapps/libraryfolders.vdf");
    const QString heroic = QStringLiteral("home/.config/heroic/GamesConfig/Quenmar.json");
    const QByteArray hiddenLutris = withPrefix(lutrisGame, "@OTHER@/hidden");
    const QByteArray hiddenSteam = QByteArray(libraryFolders).replace("@OTHER@/SteamLibrary", "@OTHER@/hidden-library");
    const QByteArray hiddenHeroic = withPrefix(heroicGame, "@OTHER@/hidden");
    const QByteArray huge(3 << 20, '#');
    const QByteArray text("text");
    QByteArray junk(200000, '\0');
    for (int i = 0; i < junk.size(); ++i)
        junk[i] = char((unsigned(i) * 7919u + unsigned(i >> 3) * 104729u) & 0xffu);

    QTest::newRow("Lutris: 3 MB") << lutris << "text" << hiddenLutris + "# " + huge + "\n";
    QTest::newRow("Lutris: random bytes") << lutris << "text" << junk;
    QTest::newRow("Lutris: 300 000 nested lists") << lutris << "text" << "game:\n  prefix: " + QByteArray(300000 * 2, '-').replace("--", "- ");
    QTest::newRow("Lutris: a million [") << lutris << "text" << "game: " + QByteArray(1000000, '[');
    QByteArray deepMaps = "game:\n";
    for (int level = 1; level < 1200; ++level)
        deepMaps += QByteArray(level, ' ') + "a:\n";
    QTest::newRow("Lutris: 1200 nested maps") << lutris << "text" << deepMaps;
    QTest::newRow("Lutris: game is a list") << lutris << "text" << QByteArray("game:\n- prefix: @OTHER@/hidden\n");
    QTest::newRow("Lutris: prefix is a map") << lutris << "text" << QByteArray("game:\n  prefix:\n    path: @OTHER@/hidden\n");
    QTest::newRow("Lutris: relative prefix") << lutris << "text" << withPrefix(lutrisGame, "hidden");
    QTest::newRow("Lutris: unterminated quote") << lutris << "text" << QByteArray("game:\n  prefix: \"@OTHER@/hidden\n");
    for (const char *kind : {"pipe", "endless device", "link to itself", "folder", "unreadable"})
        QTest::newRow(qPrintable(QStringLiteral("Lutris: ") + kind)) << lutris << kind << text;
    QTest::newRow("Steam: 3 MB") << steam << "text" << hiddenSteam + "// " + huge + "\n";
    QTest::newRow("Steam: unterminated block") << steam << "text" << hiddenSteam.left(hiddenSteam.lastIndexOf('}'));
    QTest::newRow("Steam: unterminated string") << steam << "text" << hiddenSteam.left(hiddenSteam.indexOf("hidden-library") + 6);
    QTest::newRow("Steam: 100 000 nested blocks")
        << steam << "text" << QByteArray("\"libraryfolders\" ") + QByteArray(100000, 'x').replace("x", "\"k\" {");
    QTest::newRow("Steam: random bytes") << steam << "text" << junk;
    for (const char *kind : {"pipe", "endless device", "link to itself", "unreadable"})
        QTest::newRow(qPrintable(QStringLiteral("Steam: ") + kind)) << steam << kind << text;
    QTest::newRow("Heroic: 3 MB") << heroic << "text" << hiddenHeroic + QByteArray(3 << 20, ' ');
    QTest::newRow("Heroic: random bytes") << heroic << "text" << junk;
    QTest::newRow("Heroic: 100 000 nested arrays") << heroic << "text" << QByteArray(100000, '[');
    QTest::newRow("Heroic: winePrefix not text")
        << heroic << "text" << QByteArray(R"({"Quenmar": {"winePrefix": ["@OTHER@/hidden"]}})");
    for (const char *kind : {"pipe", "endless device", "link to itself", "unreadable"})
        QTest::newRow(qPrintable(QStringLiteral("Heroic: ") + kind)) << heroic << kind << text;
    QTest::newRow("Bottles: the bottles folder links to itself")
        << "home/.local/share/bottles/bottles/loop" << "link to itself" << text;
    QTest::newRow("PlayOnLinux: its prefixes folder is a pipe") << "home/.PlayOnLinux/wineprefix" << "pipe" << text;
    QTest::newRow("Steam: a library of compatdata links to itself")
        << "home/.local/share/Steam/steamapps/compatdata" << "link to itself" << text;
}

void TestPrefixFinder::hostileLauncherFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, kind);
    QFETCH(QByteArray, text);

    LauncherHome home;
    const QString good = QStringLiteral("home/.local/share/bottles/bottles/Quenmar");
    QVERIFY(home.makePrefix(good, Game::Key, 100));
    QVERIFY(home.makePrefix(QStringLiteral("other/hidden"), Game::Key, 900));
    QVERIFY(home.makePrefix(QStringLiteral("other/hidden-library/steamapps/compatdata/2400030/pfx"), Game::Key, 900));
    if (kind == QLatin1String("text")) {
        QVERIFY(home.writeFile(path, text));
    } else {
        QDir().mkpath(QFileInfo(home.at(path)).path());
        QVERIFY(plant(home.host(path), kind));
    }

    const qm::FoundPrefix found = qm::choosePrefix(home.search(), qm::launcherPrefixes(home.search()));
    QCOMPARE(found.dir, home.at(good));
}

void TestPrefixFinder::prefixHolding_data()
{
    QTest::addColumn<QString>("current");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected"); // empty: no move
    QTest::addColumn<QString>("launcher");

    const QString wine = QStringLiteral("home/.wine");
    const QString bottle = QStringLiteral("home/.local/share/bottles/bottles/Quenmar");
    const QString pol = QStringLiteral("home/.PlayOnLinux/wineprefix/Quenmar");
    QTest::newRow("in a bottle's drive C:") << wine << bottle + "/drive_c/Games/Quenmar" << bottle << "Bottles";
    QTest::newRow("the bottle's drive C: itself") << wine << bottle + "/drive_c" << bottle << "Bottles";
    QTest::newRow("in the prefix in use") << wine << wine + "/drive_c/Games/Quenmar" << QString() << QString();
    QTest::newRow("back to ~/.wine") << bottle << wine + "/drive_c/Games/Quenmar" << wine << QString();
    QTest::newRow("in a prefix no launcher names")
        << wine << QStringLiteral("other/loose/drive_c/Games/Quenmar") << QStringLiteral("other/loose") << QString();
    QTest::newRow("on another prefix's drive D:")
        << wine << QStringLiteral("other/disk/Quenmar") << pol << "PlayOnLinux";
    QTest::newRow("through a link to the bottle")
        << wine << QStringLiteral("home/bottle-link/drive_c/Games/Quenmar") << bottle << "Bottles";
    QTest::newRow("held by drive Z: alone") << wine << QStringLiteral("other/plain") << QString() << QString();
    QTest::newRow("a folder that does not exist")
        << wine << bottle + "/drive_c/Games/Nowhere" << QString() << QString();
}

void TestPrefixFinder::prefixHolding()
{
    QFETCH(QString, current);
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QFETCH(QString, launcher);

    LauncherHome home;
    const QString bottle = QStringLiteral("home/.local/share/bottles/bottles/Quenmar");
    const QString pol = QStringLiteral("home/.PlayOnLinux/wineprefix/Quenmar");
    for (const QString &prefix : {QStringLiteral("home/.wine"), bottle, pol, QStringLiteral("other/loose")}) {
        QVERIFY(home.makePrefix(prefix, Game::Nothing));
        QVERIFY(home.writeFile(prefix + QStringLiteral("/drive_c/Games/Quenmar/quenmar.exe"), "MZ"));
    }
    QVERIFY(home.writeFile(QStringLiteral("other/disk/Quenmar/quenmar.exe"), "MZ"));
    QVERIFY(home.writeFile(QStringLiteral("other/plain/quenmar.exe"), "MZ"));
    QVERIFY(QFile::link(home.at(QStringLiteral("other/disk")), home.at(pol + QStringLiteral("/dosdevices/d:"))));
    QVERIFY(QFile::link(home.at(bottle), home.at(QStringLiteral("home/bottle-link"))));

    const std::vector<qm::FoundPrefix> prefixes = qm::launcherPrefixes(home.search());
    const std::optional<qm::FoundPrefix> holder = qm::prefixHolding(home.host(folder), prefixes, home.at(current));
    if (expected.isEmpty()) {
        QVERIFY2(!holder, qPrintable(holder ? holder->dir : QString()));
        return;
    }
    QVERIFY(holder);
    QCOMPARE(holder->dir, home.at(expected));
    QCOMPARE(holder->launcher, launcher);
}

void TestPrefixFinder::description()
{
    QCOMPARE((qm::FoundPrefix{QStringLiteral("/home/p/.local/share/bottles/bottles/Quenmar"), QStringLiteral("Bottles")}.description()),
             QStringLiteral("Wine prefix: /home/p/.local/share/bottles/bottles/Quenmar (Bottles)"));
    QCOMPARE((qm::FoundPrefix{QStringLiteral("/home/p/.wine"), QString()}.description()),
             QStringLiteral("Wine prefix: /home/p/.wine"));
}

QTEST_GUILESS_MAIN(TestPrefixFinder)
#include "tst_prefixfinder.moc"
