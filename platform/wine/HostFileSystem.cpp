#include "platform/wine/HostFileSystem.h"

#include <cerrno>
#include <csignal>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

class FileDescriptor final
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

class FolderStream final
{
public:
    explicit FolderStream(DIR *dir) : m_dir(dir) {}
    ~FolderStream()
    {
        if (m_dir)
            ::closedir(m_dir);
    }
    FolderStream(const FolderStream &) = delete;
    FolderStream &operator=(const FolderStream &) = delete;
    DIR *get() const { return m_dir; }

private:
    DIR *m_dir;
};

} // namespace

HostFileSystem::HostFileSystem(WinePrefix prefix)
    : m_prefix(std::move(prefix))
{
}

bool HostFileSystem::exists(const QString &path) const
{
    const std::optional<QByteArray> host = m_prefix.toHostPath(path);
    struct stat st;
    return host && ::stat(host->constData(), &st) == 0;
}

bool HostFileSystem::readWholeFile(const QString &path, std::string &contents) const
{
    contents.clear();
    const std::optional<QByteArray> host = m_prefix.toHostPath(path);
    if (!host)
        return false;
    // Without O_NONBLOCK a pipe in the file's place would hold the open until some other
    // program writes to it; a regular file reads the same either way.
    const FileDescriptor file(::open(host->constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0)
        return false;
    struct stat st;
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;

    // The size is where reading starts, not a promise: read on to the end, so that a file
    // that grows or shrinks meanwhile, or reports no size at all, still reads whole.
    std::string data;
    data.resize(st.st_size > 0 ? size_t(st.st_size) : 0);
    size_t filled = 0;
    for (;;) {
        // Once the buffer is full it usually holds the whole file: whatever more there is
        // is looked for in a small buffer, so that the end of a file of the size it
        // reported costs no second, larger copy of it.
        char more[4096];
        const bool full = filled == data.size();
        const ssize_t got = full ? ::read(file.get(), more, sizeof more)
                                 : ::read(file.get(), &data[filled], data.size() - filled);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            break;
        if (full)
            data.append(more, size_t(got));
        filled += size_t(got);
    }
    data.resize(filled);
    contents = std::move(data);
    return true;
}

bool HostFileSystem::listFolder(const QString &folder,
                                const std::function<void(const QByteArray &name)> &entry) const
{
    const std::optional<QByteArray> host = m_prefix.toHostPath(folder);
    if (!host)
        return false;
    const FolderStream dir(::opendir(host->constData()));
    if (!dir.get())
        return false;
    // While the listing is open, deleting in this folder goes through it: no path is
    // resolved again for each of thousands of entries.
    const OpenListing previous = std::exchange(m_listing, OpenListing{folder, ::dirfd(dir.get())});
    struct Restore
    {
        OpenListing &listing;
        OpenListing previous;
        ~Restore() { listing = std::move(previous); }
    } restore{m_listing, previous};
    while (const dirent *found = ::readdir(dir.get()))
        entry(QByteArray(found->d_name));
    return true;
}

namespace {

// Wine shows a file without any write permission as read-only, from its mode bits alone
// (whoever asks, root included), and its DeleteFile fails on such a file.
bool readOnlyUnderWine(const struct stat &st)
{
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

enum class Use { Free, InUse, Unknown };

// Whether another open file description holds the regular file `fd` refers to: a write
// lease is refused while there is one. Where no lease can be asked for (not the file's
// owner without CAP_LEASE, a file system without leases), nothing can be told.
Use useOf(int fd)
{
    // A lease broken by another opener meanwhile would signal this process; SIGURG is
    // ignored unless handled, where SIGIO would end the process.
    if (::fcntl(fd, F_SETSIG, SIGURG) != 0)
        return Use::Unknown;
    if (::fcntl(fd, F_SETLEASE, F_WRLCK) == 0)
        return Use::Free; // held until `fd` is closed: no one opens the file meanwhile
    return errno == EAGAIN || errno == EBUSY ? Use::InUse : Use::Unknown;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Deletes `name` in the folder `dir` as Wine's DeleteFile would, or refuses as it would:
// - a folder, or a symbolic link to one, is a folder in Wine's view and is never deleted;
// - a file without write permission is read-only;
// - a regular file that another open file description holds is in use.
// A symbolic link to anything else (a file, nothing at all) is removed as a link; its
// target decides whether it is read-only or in use, as Wine opens the file it names.
bool deleteAsWine(int dir, const char *name)
{
    struct stat entry;
    if (::fstatat(dir, name, &entry, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(entry.st_mode))
        return false;
    struct stat target = entry;
    if (S_ISLNK(entry.st_mode) && ::fstatat(dir, name, &target, 0) != 0)
        return ::unlinkat(dir, name, 0) == 0; // a link to nothing: Wine's view ends at the link
    if (S_ISDIR(target.st_mode) || readOnlyUnderWine(target))
        return false;
    if (!S_ISREG(target.st_mode))
        return ::unlinkat(dir, name, 0) == 0; // a pipe, socket or device is never opened here

    // O_NONBLOCK: a file someone else holds a lease on refuses at once instead of waiting.
    // O_NOFOLLOW unless it is a link: an entry swapped for a link meanwhile is not followed.
    const int follow = S_ISLNK(entry.st_mode) ? 0 : O_NOFOLLOW;
    const FileDescriptor file(::openat(dir, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | follow));
    if (file.get() < 0) {
        if (errno == EWOULDBLOCK || errno == ELOOP)
            return false; // leased by another program (it has the file open), or swapped
        return ::unlinkat(dir, name, 0) == 0; // not ours to open: nothing can be told
    }
    struct stat opened;
    if (::fstat(file.get(), &opened) != 0 || !sameFile(opened, target))
        return false; // the name changed under us: leave it to a later clean
    if (useOf(file.get()) == Use::InUse)
        return false;
    return ::unlinkat(dir, name, 0) == 0;
}

} // namespace

bool HostFileSystem::deleteFile(const QString &folder, const QByteArray &name) const
{
    // A listed name is one entry of the folder; anything else would reach elsewhere.
    if (name.isEmpty() || name.contains('/') || name.contains('\0'))
        return false;
    if (m_listing.fd >= 0 && m_listing.folder == folder)
        return deleteAsWine(m_listing.fd, name.constData());
    const std::optional<QByteArray> host = m_prefix.toHostPath(folder);
    if (!host)
        return false;
    const FileDescriptor dir(::open(host->constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.get() >= 0 && deleteAsWine(dir.get(), name.constData());
}

const FileSystem &hostFileSystem()
{
    static const HostFileSystem fileSystem{WinePrefix()};
    return fileSystem;
}

} // namespace qm
