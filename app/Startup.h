#pragma once

#include "platform/Echo.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/SystemBackends.h"
#include "platform/SystemInfo.h"

#include <functional>

namespace qm {

// The program from start to end: the application object with its title, the window on the
// system's services, and the message loop until the window is closed. The program takes no
// command line: the application object is handed the program's name alone, so that not
// even Qt's own options (-style, -reverse, -qwindowtitle, -platform ...) act. The services
// are made once the application object exists. An exception that escapes is shown by the
// application's exception display. Returns the program's exit code, 0.
int runHelpCentre(int argc, char **argv, const std::function<SystemBackends()> &makeBackends);

} // namespace qm
