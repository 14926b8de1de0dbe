#include "platform/SystemBackends.h"

#include "platform/windows/WindowsEcho.h"
#include "platform/windows/WindowsFileSystem.h"
#include "platform/windows/WindowsRegistry.h"
#include "platform/windows/WindowsShell.h"
#include "platform/windows/WindowsSystemInfo.h"

namespace qm {

// On Windows nothing is emulated: the folder chooser opens at the folder text itself.
SystemBackends makeSystemBackends()
{
    SystemBackends backends;
    backends.registry = std::make_unique<WindowsRegistry>();
    backends.files = std::make_unique<WindowsFileSystem>();
    backends.echo = std::make_unique<WindowsEcho>();
    backends.shell = std::make_unique<WindowsShell>();
    backends.system = std::make_unique<WindowsSystemInfo>();
    return backends;
}

} // namespace qm
