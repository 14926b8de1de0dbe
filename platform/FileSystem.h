#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <string>

namespace qm {

// The game's files are named by Windows paths ("c:\Program Files\QuenmarOnline\...").
// Every operation takes such a path; an implementation decides where it really lies.
// A path names an existing entry when it names an existing file or folder.
class FileSystem
{
public:
    virtual ~FileSystem() = default;

    virtual bool exists(const QString &path) const = 0;

    // All bytes of the file, exactly its length, into `contents`. False when the file
    // cannot be opened or read (a folder, no access, vanished); `contents` is then empty.
    virtual bool readWholeFile(const QString &path, std::string &contents) const = 0;

    // Calls `entry` with the raw name of every entry of the folder, "." and ".." included,
    // hidden ones included, in the order the file system reports them. Names are bytes as
    // stored: they need not be valid UTF-8. Entries may be removed from inside `entry`.
    // False (and no call) when the folder cannot be listed.
    virtual bool listFolder(const QString &folder,
                            const std::function<void(const QByteArray &name)> &entry) const = 0;

    // Deletes the file `name` (raw bytes, as listed) inside `folder`. False when the system
    // refuses, as Windows does for a folder, a read-only file and a file in use; under Wine
    // a symbolic link to a folder counts as a folder, and one to a file is removed as a link.
    virtual bool deleteFile(const QString &folder, const QByteArray &name) const = 0;
};

// The system's own files (under Wine, those of the default prefix), for code that is given
// no other.
const FileSystem &hostFileSystem();

} // namespace qm
