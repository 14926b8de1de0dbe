#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace qm {

class EchoTransport;
class FileSystem;
class Registry;
class Shell;
class SystemInfo;

// Everything the window needs of the operating system, handed to it in one piece so that a
// test can hand it fakes.
struct Platform
{
    Registry &registry;
    FileSystem &files;
    EchoTransport &echo;
    Shell &shell;
    SystemInfo &system;
    // Hosts on the public internet that answer echo requests, tried in this order.
    QStringList publicHosts;
    // Where the folder chooser opens for a folder text; the text itself when not set.
    std::function<QString(const QString &folder)> hostFolder;
    // The folder text for a folder the chooser gave: the path under which the game sees
    // it; the chosen folder itself when not set.
    std::function<QString(const QString &chosen)> windowsFolder;
    // What the player is told of where the game's registry, drives and computer are read:
    // nothing when not set.
    std::function<QString()> whereFound{};
    // Told of a folder the player's prompt accepted: when it lies in another Windows (a
    // Wine prefix other than the one in use), the services read that one from then on.
    // Gives the folder text that names the same folder afterwards. Not set: no move.
    std::function<QString(const QString &folder)> folderAccepted{};
};

} // namespace qm
