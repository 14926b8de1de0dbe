#include "platform/wine/WinePrefix.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
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
    : m_dir(dir)
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
        base = QFile::encodeName(m_dir);
        while (base.endsWith('/') && base.size() > 1)
            base.chop(1);
        base += "/dosdevices/" + QByteArray(1, letter) + ':';
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

} // namespace qm
