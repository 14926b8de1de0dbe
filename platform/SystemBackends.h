#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace qm {

class EchoTransport;
class FileSystem;
class Registry;
class Shell;
class SystemInfo;

// The real services of the system the program runs on, made by one factory per system.
struct SystemBackends
{
    std::unique_ptr<Registry> registry;
    std::unique_ptr<FileSystem> files;
    std::unique_ptr<EchoTransport> echo;
    std::unique_ptr<Shell> shell;
    std::unique_ptr<SystemInfo> system;
    // Where the folder chooser opens for a folder text, and the folder text for the folder
    // it gave; either may be left empty where the chooser speaks the game's paths itself.
    std::function<QString(const QString &folder)> hostFolder;
    std::function<QString(const QString &chosen)> windowsFolder;
    // Where the game's Windows side is kept, for the player to see (the Wine prefix on
    // Linux), and the move to where an accepted folder lies (see Platform); either may be
    // left empty where there is only one Windows.
    std::function<QString()> whereFound{};
    std::function<QString(const QString &folder)> folderAccepted{};
};

SystemBackends makeSystemBackends();

} // namespace qm
