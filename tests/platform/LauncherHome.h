#pragma once

// A player's home folder in a temporary folder, laid out the way the Wine launchers lay
// theirs out, with prefixes that hold the game in the ways a player's can. Beside it,
// "other" stands for a second disk (a Steam library elsewhere, a drive outside a prefix).

#include "platform/wine/PrefixFinder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class LauncherHome final
{
public:
    // What a prefix holds of the game.
    enum class Game {
        Nothing,   // a prefix some other game runs in
        Key,       // the game's key with its "Directory" (the installer wrote it)
        Folder,    // quenmar.exe in C:\Program Files\QuenmarOnline, no key
        Accounts,  // the game's key with accounts but no "Directory"
    };

    LauncherHome()
    {
        QDir(root()).mkpath(QStringLiteral("home"));
        QDir(root()).mkpath(QStringLiteral("other"));
    }

    QString root() const { return m_dir.path(); }
    QString home() const { return root() + QStringLiteral("/home"); }
    QString at(const QString &relative) const { return root() + QLatin1Char('/') + relative; }
    QByteArray host(const QString &relative) const { return QFile::encodeName(at(relative)); }

    qm::PrefixSearch search() const { return {home(), QString(), QString(), QString()}; }

    // The hive of a prefix: a few keys every prefix has, then what `game` asks for.
    static QByteArray userReg(Game game, const QByteArray &accounts = "alice")
    {
        QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
                          "#arch=win64\n\n[Software\\\\Wine] 1700000000\n#time=1da0000000000000\n"
                          "\"Version\"=\"win10\"\n\n";
        if (game == Game::Key) {
            text += "[Software\\\\QuenmarOnline] 1700000000\n#time=1da0000000000000\n"
                    "\"Directory\"=\"C:\\\\Games\\\\Quenmar\"\n\"Version\"=\"7.4 \"\n\n";
        }
        if (game == Game::Key || game == Game::Accounts) {
            for (const QByteArray &account : accounts.split(','))
                text += "[Software\\\\QuenmarOnline\\\\" + account + "] 1700000000\n#time=1da0000000000000\n@=\"\"\n\n";
        }
        return text;
    }

    // A prefix as Wine makes one: drive C: its drive_c, drive Z: the host's root; its
    // user.reg written `written` seconds into 2023.
    bool makePrefix(const QString &relative, Game game, int written = 0,
                    const QByteArray &accounts = "alice") const
    {
        const QString dir = at(relative);
        if (!QDir().mkpath(dir + QStringLiteral("/dosdevices")) || !QDir().mkpath(dir + QStringLiteral("/drive_c")))
            return false;
        QFile::link(QStringLiteral("../drive_c"), dir + QStringLiteral("/dosdevices/c:"));
        QFile::link(QStringLiteral("/"), dir + QStringLiteral("/dosdevices/z:"));
        if (game == Game::Folder && !writeFile(relative + QStringLiteral("/drive_c/Program Files/QuenmarOnline/quenmar.exe"), "MZ"))
            return false;
        return writeFile(relative + QStringLiteral("/user.reg"), userReg(game, accounts))
            && setWritten(relative + QStringLiteral("/user.reg"), written);
    }

    // A file with its folders; "@HOME@" and "@OTHER@" in the text stand for those folders.
    bool writeFile(const QString &relative, QByteArray text) const
    {
        text.replace("@HOME@", QFile::encodeName(home()));
        text.replace("@OTHER@", QFile::encodeName(at(QStringLiteral("other"))));
        const QString path = at(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
    }

    bool setWritten(const QString &relative, int seconds) const
    {
        const struct timespec times[2] = {{1672531200 + seconds, 0}, {1672531200 + seconds, 0}};
        return ::utimensat(AT_FDCWD, host(relative).constData(), times, AT_SYMLINK_NOFOLLOW) == 0;
    }

private:
    QTemporaryDir m_dir;
};
