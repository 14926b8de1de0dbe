#include "platform/windows/WindowsFileSystem.h"

#include <windows.h>

#include <utility>

namespace qm {

namespace {

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

class Handle final
{
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_handle);
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

class Search final
{
public:
    explicit Search(HANDLE handle) : m_handle(handle) {}
    ~Search()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            ::FindClose(m_handle);
    }
    Search(const Search &) = delete;
    Search &operator=(const Search &) = delete;
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

} // namespace

bool WindowsFileSystem::exists(const QString &path) const
{
    return ::GetFileAttributesW(wide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool WindowsFileSystem::readWholeFile(const QString &path, std::string &contents) const
{
    contents.clear();
    const Handle file(::CreateFileW(wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return false;
    // Only a file on a disk is read: a pipe or a device in its place is not the settings file.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        return false;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size))
        return false;
    // The size is where reading starts: a file that grows meanwhile still reads whole.
    std::string data;
    data.resize(size_t(size.QuadPart));
    size_t filled = 0;
    for (;;) {
        if (filled == data.size())
            data.resize(data.size() + 4096);
        DWORD got = 0;
        const DWORD wanted = DWORD(std::min<size_t>(data.size() - filled, 1u << 30));
        if (!::ReadFile(file.get(), &data[filled], wanted, &got, nullptr))
            return false;
        if (got == 0)
            break;
        filled += got;
    }
    data.resize(filled);
    contents = std::move(data);
    return true;
}

bool WindowsFileSystem::listFolder(const QString &folder,
                                   const std::function<void(const QByteArray &name)> &entry) const
{
    WIN32_FIND_DATAW found;
    const Search search(::FindFirstFileW(wide(folder + QStringLiteral("\\*")), &found));
    if (search.get() == INVALID_HANDLE_VALUE)
        return false;
    do {
        entry(QString::fromWCharArray(found.cFileName).toUtf8());
    } while (::FindNextFileW(search.get(), &found));
    return true;
}

bool WindowsFileSystem::deleteFile(const QString &folder, const QByteArray &name) const
{
    // A listed name is one entry of the folder; anything else would reach elsewhere.
    if (name.isEmpty() || name.contains('/') || name.contains('\\') || name.contains('\0'))
        return false;
    // DeleteFileW refuses folders, read-only files and files in use by itself.
    return ::DeleteFileW(wide(folder + QLatin1Char('\\') + QString::fromUtf8(name)));
}

const FileSystem &hostFileSystem()
{
    static const WindowsFileSystem fileSystem;
    return fileSystem;
}

} // namespace qm
