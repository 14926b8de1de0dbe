#include "platform/SystemBackends.h"

#include "platform/posix/DesktopShell.h"
#include "platform/posix/IcmpEcho.h"
#include "platform/wine/HostFileSystem.h"
#include "platform/wine/PrefixFinder.h"
#include "platform/wine/WinePrefix.h"
#include "platform/wine/WineRegistry.h"
#include "platform/wine/WineSystemInfo.h"

#include <QFile>

#include <cstdlib>

#include <sys/stat.h>

namespace qm {

namespace {

// The folder a host path names, as the system identifies it.
std::optional<std::pair<dev_t, ino_t>> identity(const std::optional<QByteArray> &host)
{
    struct stat st;
    if (!host || ::stat(host->constData(), &st) != 0)
        return std::nullopt;
    return std::make_pair(st.st_dev, st.st_ino);
}

} // namespace

// On Linux the game runs under Wine: its registry, drives and computer are those of its
// prefix, read from the prefix's files. The prefix is the one the game was found in among
// the launchers' prefixes, and follows a folder the player gives that lies in another.
SystemBackends makeSystemBackends()
{
    const PrefixSearch search = PrefixSearch::ofProcess();
    const auto known = std::make_shared<const std::vector<FoundPrefix>>(
        search.winePrefix.isEmpty() ? launcherPrefixes(search) : std::vector<FoundPrefix>());
    const auto used = std::make_shared<FoundPrefix>(choosePrefix(search, *known));

    const WinePrefix prefix(used->dir);
    SystemBackends backends;
    backends.registry = std::make_unique<WineRegistry>(prefix);
    backends.files = std::make_unique<HostFileSystem>(prefix);
    backends.echo = std::make_unique<IcmpEcho>();
    backends.shell = std::make_unique<DesktopShell>();
    backends.system = std::make_unique<WineSystemInfo>(prefix);
    // The chooser shows the host's folders; the game sees them through its drives.
    backends.hostFolder = [prefix](const QString &folder) { return prefix.hostFolder(folder); };
    backends.windowsFolder = [prefix](const QString &chosen) {
        return prefix.toWindowsPath(chosen).value_or(chosen);
    };
    backends.whereFound = [used] { return used->description(); };
    // $WINEPREFIX names the one prefix to use; otherwise a game folder in another prefix
    // moves every service there.
    if (search.winePrefix.isEmpty()) {
        backends.folderAccepted = [prefix, known, used](const QString &folder) {
            const std::optional<QByteArray> host = prefix.toHostPath(folder);
            if (!host)
                return folder;
            const std::optional<FoundPrefix> holder = prefixHolding(*host, *known, used->dir);
            if (!holder)
                return folder;
            const auto before = identity(host);
            *used = *holder;
            prefix.moveTo(holder->dir);
            // The text may reach another folder through the new prefix's drives: then the
            // folder is named by its host path, which every prefix reaches alike.
            if (identity(prefix.toHostPath(folder)) == before)
                return folder;
            char *real = ::realpath(host->constData(), nullptr);
            const QString hostPath = real ? QFile::decodeName(real) : QFile::decodeName(*host);
            std::free(real);
            return hostPath;
        };
    }
    return backends;
}

} // namespace qm
