#include "platform/wine/HostFileSystem.h"

#include <cerrno>
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

bool HostFileSystem::deleteFile(const QString &folder, const QByteArray &name) const
{
    // A listed name is one entry of the folder; anything else would reach elsewhere.
    if (name.isEmpty() || name.contains('/') || name.contains('\0'))
        return false;
    // unlink() never removes a folder, and removes a symbolic link, not its target.
    if (m_listing.fd >= 0 && m_listing.folder == folder)
        return ::unlinkat(m_listing.fd, name.constData(), 0) == 0;
    const std::optional<QByteArray> host = m_prefix.toHostPath(folder);
    if (!host)
        return false;
    const QByteArray path = *host + '/' + name;
    return ::unlink(path.constData()) == 0;
}

const FileSystem &hostFileSystem()
{
    static const HostFileSystem fileSystem{WinePrefix()};
    return fileSystem;
}

} // namespace qm
