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
};

} // namespace qm
