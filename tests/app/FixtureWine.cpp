// The fixture on Linux: the prefix folder is a real Wine prefix, read by the program's own
// Wine-prefix registry and files.

#include "FixtureSystem.h"

#include "platform/wine/HostFileSystem.h"
#include "platform/wine/WinePrefix.h"
#include "platform/wine/WineRegistry.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fixture {

std::unique_ptr<qm::Registry> prefixRegistry(const QString &prefixDir)
{
    return std::make_unique<qm::WineRegistry>(qm::WinePrefix(prefixDir));
}

std::unique_ptr<qm::FileSystem> prefixFiles(const QString &prefixDir)
{
    return std::make_unique<qm::HostFileSystem>(qm::WinePrefix(prefixDir));
}

QString chooserFolder(const QString &prefixDir, const QString &folderText)
{
    return qm::WinePrefix(prefixDir).hostFolder(folderText);
}

QString chosenWindowsPath(const QString &prefixDir, const QString &chosen)
{
    return qm::WinePrefix(prefixDir).toWindowsPath(chosen).value_or(chosen);
}

// A drive is a link in "dosdevices".
void addPrefixDrive(const QString &prefixDir, char letter)
{
    const QString folder = QStringLiteral("drive_") + QLatin1Char(letter);
    QDir(prefixDir).mkpath(QStringLiteral("dosdevices"));
    QDir(prefixDir).mkpath(folder);
    QFile::link(QStringLiteral("../") + folder,
                prefixDir + QStringLiteral("/dosdevices/") + QLatin1Char(letter) + QLatin1Char(':'));
}

bool namesAreBytes()
{
    return true;
}

bool symbolicLinks()
{
    return true;
}

bool prefixIsWine()
{
    return true;
}

bool listedFolderCanGo()
{
    return true;
}

QByteArrayList listed(const QByteArray &hostFolder)
{
    QByteArrayList names;
    DIR *dir = ::opendir(hostFolder.constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(dir);
    return names;
}

// Entries are made with the system calls, so that any bytes can be a name.
bool makeFile(const QByteArray &hostPath)
{
    const int fd = ::open(hostPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, "data", 4) == 4;
    return ::close(fd) == 0 && written;
}

bool makeFolder(const QByteArray &hostPath)
{
    return ::mkdir(hostPath.constData(), 0755) == 0;
}

bool present(const QByteArray &hostPath)
{
    struct stat st;
    return ::lstat(hostPath.constData(), &st) == 0;
}

bool makeLink(const QByteArray &target, const QByteArray &linkPath)
{
    return ::symlink(target.constData(), linkPath.constData()) == 0;
}

bool removeFile(const QByteArray &hostPath)
{
    return ::unlink(hostPath.constData()) == 0;
}

bool modeBits()
{
    return true;
}

bool setMode(const QByteArray &hostPath, unsigned mode)
{
    return ::chmod(hostPath.constData(), mode) == 0;
}

bool leasesWork(const QByteArray &hostPath)
{
    const int fd = ::open(hostPath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool taken = ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    ::close(fd);
    return taken;
}

} // namespace fixture
