#pragma once

// What the window's fixture needs of the system the tests run on: how a prefix folder
// becomes the game's registry and drives, and how the tests make and look at files with
// any name. One source per system implements it (chosen in CMake).

#include "platform/FileSystem.h"
#include "platform/Registry.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <memory>

namespace fixture {

// HKEY_CURRENT_USER as the prefix's "user.reg" holds it, read afresh for every key opened;
// a key that does not exist cannot be created.
std::unique_ptr<qm::Registry> prefixRegistry(const QString &prefixDir);

// The game's Windows paths ("c:\...") resolved onto the prefix's drive folders ("drive_c");
// a path inside the prefix folder itself is a host path, as the folder chooser gives it.
std::unique_ptr<qm::FileSystem> prefixFiles(const QString &prefixDir);

// The folder chooser's two hooks on the prefix: the host folder where it opens for a
// folder text, and the Windows path of a host folder it gave (the folder itself when no
// drive reaches it).
QString chooserFolder(const QString &prefixDir, const QString &folderText);
QString chosenWindowsPath(const QString &prefixDir, const QString &chosen);

// Makes the prefix's folder "drive_<letter>" the drive "<letter>:".
void addPrefixDrive(const QString &prefixDir, char letter);

// Whether the system's file names are any bytes, told apart by case (else UTF-16 names,
// handed out as UTF-8, that ignore case), and whether a test can make symbolic links.
bool namesAreBytes();
bool symbolicLinks();

// Whether the prefix is read by the program's own Wine-prefix backends, its drives links
// in "dosdevices" (else it is a scripted platform, and what the folder chooser's paths
// through the drives' links do is not the program's).
bool prefixIsWine();

// Whether a folder can be removed, and its name taken by another entry, while a program
// lists it (Windows keeps a folder that is being listed).
bool listedFolderCanGo();

// Host files made and looked at with the system's own calls, names as bytes (UTF-8 where
// names are not bytes).
QByteArrayList listed(const QByteArray &hostFolder); // in the order the system lists them, no "." or ".."
bool makeFile(const QByteArray &hostPath);           // holding "data"
bool makeFolder(const QByteArray &hostPath);
bool present(const QByteArray &hostPath);            // a link counts, whatever it points to
bool makeLink(const QByteArray &target, const QByteArray &linkPath);
bool removeFile(const QByteArray &hostPath);

// Whether files have POSIX mode bits, set with setMode; and whether this file system tells
// an open file by refusing a write lease on it.
bool modeBits();
bool setMode(const QByteArray &hostPath, unsigned mode);
bool leasesWork(const QByteArray &hostPath);

} // namespace fixture
