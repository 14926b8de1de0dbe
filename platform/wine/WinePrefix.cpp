#include "platform/wine/WinePrefix.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

bool isSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

bool entryExists(const QByteArray &hostPath)
{
    struct stat st;
    return ::lstat(hostPath.constData(), &st) == 0;
}

// The folder as a host path: the base with the components below it.
QByteArray joined(const QByteArray &base, const std::vector<QByteArray> &components)
{
    QByteArray path = base;
    for (const QByteArray &component : components)
        path += '/' + component;
    return path.isEmpty() ? QByteArrayLiteral("/") : path;
}

// The entry of `folder` that a Windows program would open for `name`: the exact one when
// it exists, else the first case-insensitive match by byte order, so that two entries
// differing only in case always resolve the same way.
std::optional<QByteArray> findEntry(const QByteArray &folder, const QString &name)
{
    const QByteArray exact = name.toUtf8();
    const QByteArray sep = folder.endsWith('/') ? QByteArray() : QByteArrayLiteral("/");
    if (entryExists(folder + sep + exact))
        return exact;

    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return std::nullopt;
    std::optional<QByteArray> best;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray candidate(entry->d_name);
        if (candidate == "." || candidate == "..")
            continue;
        if (QString::fromUtf8(candidate).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (!best || candidate < *best)
            best = candidate;
    }
    ::closedir(dir);
    return best;
}

// The prefix's folder as the system names it, without a trailing "/".
QByteArray hostName(const QString &dir)
{
    QByteArray base = QFile::encodeName(dir);
    while (base.endsWith('/') && base.size() > 1)
        base.chop(1);
    return base;
}

QByteArray currentFolder()
{
    std::vector<char> buffer(4096);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()))
            return QByteArray(buffer.data());
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return QFile::encodeName(QDir::currentPath());
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace

QString WinePrefix::defaultLocation()
{
    const QString fromEnvironment = qEnvironmentVariable("WINEPREFIX");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return qEnvironmentVariable("HOME") + QStringLiteral("/.wine");
}

WinePrefix::WinePrefix(const QString &dir)
    : m_dir(std::make_shared<QString>(dir))
{
}

std::optional<QByteArray> WinePrefix::toHostPath(const QString &windowsPath) const
{
    // The system takes names as C strings: a path with a NUL in it names nothing.
    if (windowsPath.contains(QChar(0)))
        return std::nullopt;

    QByteArray base;                    // never left by ".."; empty for the host root
    std::vector<QByteArray> components; // below the base, as bytes on disk
    qsizetype start = 0;

    const bool hasDrive = windowsPath.size() >= 2 && windowsPath.at(1) == QLatin1Char(':')
        && windowsPath.at(0).unicode() < 128 && windowsPath.at(0).isLetter();
    if (hasDrive) {
        const char letter = char(windowsPath.at(0).toLower().unicode());
        base = hostName(*m_dir) + "/dosdevices/" + QByteArray(1, letter) + ':';
        struct stat st;
        if (::stat(base.constData(), &st) != 0)
            return std::nullopt;
        start = 2;
    } else if (!windowsPath.isEmpty() && isSeparator(windowsPath.at(0))) {
        // A host path, as the folder chooser gives it; the host root is the base.
    } else {
        // Relative to the current folder, which ".." may leave like any other.
        const QByteArray cwd = currentFolder();
        for (const QByteArray &part : cwd.split('/')) {
            if (!part.isEmpty())
                components.push_back(part);
        }
    }

    // Once a component matches nothing, nothing below it can exist either: the rest is
    // kept as written without asking the disk. The first `found` components exist.
    size_t found = components.size();

    const qsizetype length = windowsPath.size();
    qsizetype pos = start;
    while (pos <= length) {
        qsizetype end = pos;
        while (end < length && !isSeparator(windowsPath.at(end)))
            ++end;
        const QString name = windowsPath.mid(pos, end - pos);
        pos = end + 1;

        if (name.isEmpty() || name == QLatin1String("."))
            continue;
        if (name == QLatin1String("..")) {
            if (!components.empty()) {
                components.pop_back();
                found = std::min(found, components.size());
            }
            continue;
        }
        if (found == components.size()) {
            if (std::optional<QByteArray> entry = findEntry(joined(base, components), name)) {
                components.push_back(*entry);
                ++found;
                continue;
            }
        }
        components.push_back(name.toUtf8());
    }
    return joined(base, components);
}

std::optional<QString> WinePrefix::toWindowsPath(const QString &hostFolder) const
{
    if (!hostFolder.startsWith(QLatin1Char('/')) || hostFolder.contains(QChar(0)))
        return std::nullopt;

    // The drives by what their links lead to, compared as the system identifies a folder:
    // a folder reached through another link is the same folder.
    struct Drive
    {
        dev_t device;
        ino_t inode;
        char letter;
    };
    std::vector<Drive> drives;
    const QByteArray devices = hostName(*m_dir) + "/dosdevices/";
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        const QByteArray link = devices + letter + ':';
        struct stat st;
        if (::stat(link.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            drives.push_back({st.st_dev, st.st_ino, letter});
    }

    // From the folder up to the host's root, the first folder that is a drive's target
    // gives the drive; what was passed on the way lies below it.
    QByteArray path = QFile::encodeName(QDir::cleanPath(hostFolder));
    QStringList below;
    for (;;) {
        struct stat st;
        if (::stat(path.constData(), &st) == 0) {
            for (const Drive &drive : drives) {
                if (drive.device == st.st_dev && drive.inode == st.st_ino) {
                    const QChar letter(drive.letter - 'a' + 'A');
                    return letter + QStringLiteral(":\\") + below.join(QLatin1Char('\\'));
                }
            }
        }
        if (path == "/")
            return std::nullopt;
        const qsizetype slash = path.lastIndexOf('/');
        below.prepend(QFile::decodeName(path.mid(slash + 1)));
        path.truncate(std::max<qsizetype>(slash, 1));
    }
}

QString WinePrefix::hostFolder(const QString &folderText) const
{
    for (const QString &folder : {folderText, QStringLiteral("c:\\")}) {
        if (folder.isEmpty())
            continue;
        const std::optional<QByteArray> path = toHostPath(folder);
        if (!path)
            continue;
        char *resolved = ::realpath(path->constData(), nullptr);
        if (!resolved)
            continue;
        const QByteArray real(resolved);
        std::free(resolved);
        struct stat st;
        if (::stat(real.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            return QFile::decodeName(real);
    }
    return QDir::homePath();
}

} // namespace qm
