#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

// A Wine prefix as Wine lays one out, in a temporary folder: drive C: is the folder
// drive_c, drive Z: the host's root, and user.reg is the real hive of a player's prefix.
// Names are made with the system calls, so that they may be any bytes.
class PrefixFixture final
{
public:
    PrefixFixture()
    {
        if (!m_dir.isValid())
            return;
        m_host = QFile::encodeName(m_dir.path());
        m_ok = makeFolder("dosdevices") && makeFolder("drive_c")
            && ::symlink("../drive_c", at("dosdevices/c:").constData()) == 0
            && ::symlink("/", at("dosdevices/z:").constData()) == 0
            && QFile::copy(QStringLiteral(QM_TEST_DATA "/user.reg"), dir() + "/user.reg")
            && QFile::setPermissions(dir() + "/user.reg",
                                     QFileDevice::ReadOwner | QFileDevice::WriteOwner)
            && makeFolder("drive_c/Program Files")
            && makeFolder("drive_c/Program Files/QuenmarOnline")
            && makeFolder("drive_c/Program Files/QuenmarOnline/config")
            && makeFile("drive_c/Program Files/QuenmarOnline/quenmar.exe", "MZ")
            && makeFile("drive_c/Program Files/QuenmarOnline/config/setup.ini",
                        "# Quenmar Online 7.4 beta\n")
            && makeFolder("drive_c/Mixed") && makeFolder("drive_c/Mixed/abc")
            && makeFolder("drive_c/Mixed/ABC") && makeFolder("drive_c/Bad\xff")
            && makeFile("drive_c/Bad\xff/file.txt", "x");
    }

    // Qt cannot name entries whose names are not UTF-8, so the folder is emptied here.
    // Links are removed as links: drive Z: leads to the host's root.
    ~PrefixFixture()
    {
        if (!m_host.isEmpty()) {
            ::nftw(m_host.constData(),
                   [](const char *path, const struct stat *, int, struct FTW *) {
                       ::remove(path);
                       return 0;
                   },
                   16, FTW_DEPTH | FTW_PHYS);
        }
    }
    PrefixFixture(const PrefixFixture &) = delete;
    PrefixFixture &operator=(const PrefixFixture &) = delete;

    bool isValid() const { return m_ok; }
    QString dir() const { return m_dir.path(); }
    // The prefix folder as the system names it.
    const QByteArray &host() const { return m_host; }
    QByteArray driveC() const { return at("dosdevices/c:"); }
    // An entry of the prefix as the system names it.
    QByteArray at(const QByteArray &relative) const { return QByteArray(m_host + '/' + relative); }

    bool makeFolder(const QByteArray &relative) const
    {
        return ::mkdir(at(relative).constData(), 0755) == 0;
    }

    bool makeFile(const QByteArray &relative, const QByteArray &contents) const
    {
        const int fd = ::open(at(relative).constData(),
                              O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            return false;
        const bool written = ::write(fd, contents.constData(), size_t(contents.size()))
            == ssize_t(contents.size());
        return ::close(fd) == 0 && written;
    }

    bool makeLink(const QByteArray &target, const QByteArray &relative) const
    {
        return ::symlink(target.constData(), at(relative).constData()) == 0;
    }

    bool entryExists(const QByteArray &relative) const
    {
        struct stat st;
        return ::lstat(at(relative).constData(), &st) == 0;
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_host;
    bool m_ok = false;
};
