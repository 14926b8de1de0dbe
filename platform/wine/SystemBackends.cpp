#include "platform/SystemBackends.h"

#include "platform/posix/DesktopShell.h"
#include "platform/posix/IcmpEcho.h"
#include "platform/wine/HostFileSystem.h"
#include "platform/wine/WinePrefix.h"
#include "platform/wine/WineRegistry.h"
#include "platform/wine/WineSystemInfo.h"

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
    // The chooser shows the host's folders; the game sees them through its drives.
    backends.hostFolder = [prefix](const QString &folder) { return prefix.hostFolder(folder); };
    backends.windowsFolder = [prefix](const QString &chosen) {
        return prefix.toWindowsPath(chosen).value_or(chosen);
    };
    return backends;
}

} // namespace qm
