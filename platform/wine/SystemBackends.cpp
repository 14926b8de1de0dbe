#include "platform/SystemBackends.h"

#include "platform/posix/DesktopShell.h"
#include "platform/posix/IcmpEcho.h"
#include "platform/wine/HostFileSystem.h"
#include "platform/wine/WinePrefix.h"
#include "platform/wine/WineRegistry.h"
#include "platform/wine/WineSystemInfo.h"

#include <QDir>
#include <QFileInfo>

namespace qm {

// On Linux the game runs under Wine: its registry, drives and computer are those of its
// prefix, read from the prefix's files.
SystemBackends makeSystemBackends()
{
    const WinePrefix prefix;
    SystemBackends backends;
    backends.registry = std::make_unique<WineRegistry>(prefix);
    backends.files = std::make_unique<HostFileSystem>(prefix);
    backends.echo = std::make_unique<IcmpEcho>();
    backends.shell = std::make_unique<DesktopShell>();
    backends.system = std::make_unique<WineSystemInfo>(prefix);
    backends.hostFolder = [prefix](const QString &folder) {
        const auto path = prefix.toHostPath(folder);
        if (path && QFileInfo(QString::fromUtf8(*path)).isDir())
            return QString::fromUtf8(*path);
        return QDir::homePath();
    };
    return backends;
}

} // namespace qm
