// The fixture on Windows: the prefix folder is a scripted platform. Its "user.reg" is read
// by the same parser that reads a Wine prefix into a registry held in memory, and the
// game's drives are folders in it ("drive_c"), reached through the program's own Windows
// files once a path is rewritten onto them. The system's real C: is never touched.

#include "FixtureSystem.h"

#include "platform/MemoryRegistry.h"
#include "platform/wine/UserRegParser.h"
#include "platform/windows/WindowsFileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <windows.h>

namespace fixture {

namespace {

// Wine hands no QT_ variable on to a Windows program: the suites' windows are offscreen,
// as on Linux, unless the environment names another platform. Set before main makes the
// application object.
const bool offscreenWindows = [] {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return true;
}();

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

// "x:\rest" lies in the prefix's "drive_x" when the prefix has that drive, else in a folder
// that does not exist. A path inside the prefix folder, and a path without a drive letter,
// is taken as it is.
QString onDisk(const QString &prefixDir, const QString &path)
{
    const QString dir = QDir::cleanPath(prefixDir);
    const QString slashed = QDir::fromNativeSeparators(path);
    if (slashed.startsWith(dir + QLatin1Char('/'), Qt::CaseInsensitive) || slashed.compare(dir, Qt::CaseInsensitive) == 0)
        return path;
    const bool hasDrive = path.size() >= 2 && path.at(1) == QLatin1Char(':') && path.at(0).unicode() < 128
        && path.at(0).isLetter();
    if (!hasDrive)
        return path;
    const QChar letter = path.at(0).toLower();
    const bool isDrive = QFileInfo(dir + QStringLiteral("/dosdevices/") + letter).isDir();
    QString rest = path.mid(2);
    if (!rest.isEmpty() && rest.at(0) != QLatin1Char('\\') && rest.at(0) != QLatin1Char('/'))
        rest.prepend(QLatin1Char('\\'));
    return QDir::toNativeSeparators(dir + (isDrive ? QStringLiteral("/drive_") : QStringLiteral("/no drive ")) + letter)
        + rest;
}

class HiveFileRegistry final : public qm::Registry
{
public:
    explicit HiveFileRegistry(const QString &prefixDir) : m_hive(prefixDir + QStringLiteral("/user.reg")) {}

    std::unique_ptr<qm::RegistryKey> openKey(const QString &path) override
    {
        if (!QFileInfo(m_hive).isFile())
            return nullptr;
        QFile file(m_hive);
        if (!file.open(QIODevice::ReadOnly))
            return nullptr;
        const std::optional<std::vector<qm::UserRegKey>> keys = qm::parseUserReg(file.readAll());
        if (!keys)
            return nullptr;
        qm::MemoryRegistry registry(false);
        for (const qm::UserRegKey &key : *keys) {
            const QString keyPath = key.path.join(QLatin1Char('\\'));
            registry.addKey(keyPath);
            for (const auto &[name, value] : key.values)
                registry.setValue(keyPath, name, value);
        }
        return registry.openKey(path);
    }

private:
    QString m_hive;
};

class DriveFolders final : public qm::FileSystem
{
public:
    explicit DriveFolders(const QString &prefixDir) : m_dir(prefixDir) {}

    bool exists(const QString &path) const override { return m_files.exists(onDisk(path)); }
    bool readWholeFile(const QString &path, std::string &contents) const override
    {
        return m_files.readWholeFile(onDisk(path), contents);
    }
    bool listFolder(const QString &folder, const std::function<void(const QByteArray &)> &entry) const override
    {
        return m_files.listFolder(onDisk(folder), entry);
    }
    bool deleteFile(const QString &folder, const QByteArray &name) const override
    {
        return m_files.deleteFile(onDisk(folder), name);
    }

private:
    QString onDisk(const QString &path) const { return fixture::onDisk(m_dir, path); }

    QString m_dir;
    qm::WindowsFileSystem m_files;
};

} // namespace

std::unique_ptr<qm::Registry> prefixRegistry(const QString &prefixDir)
{
    return std::make_unique<HiveFileRegistry>(prefixDir);
}

std::unique_ptr<qm::FileSystem> prefixFiles(const QString &prefixDir)
{
    return std::make_unique<DriveFolders>(prefixDir);
}

QString chooserFolder(const QString &prefixDir, const QString &folderText)
{
    for (const QString &folder : {folderText, QStringLiteral("c:\\")}) {
        if (folder.isEmpty())
            continue;
        const QFileInfo found(onDisk(prefixDir, folder));
        if (found.isDir())
            return found.canonicalFilePath();
    }
    return QDir::homePath();
}

// A folder in the prefix's "drive_x" is "X:\..."; the drives are tried from A to Z.
QString chosenWindowsPath(const QString &prefixDir, const QString &chosen)
{
    const QString folder = QDir::cleanPath(QDir::fromNativeSeparators(chosen));
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        if (!QFileInfo(prefixDir + QStringLiteral("/dosdevices/") + QLatin1Char(letter)).isDir())
            continue;
        const QString root = QDir::cleanPath(prefixDir + QStringLiteral("/drive_") + QLatin1Char(letter));
        const QString drive = QLatin1Char(char(letter - 'a' + 'A')) + QStringLiteral(":\\");
        if (folder.compare(root, Qt::CaseInsensitive) == 0)
            return drive;
        if (folder.startsWith(root + QLatin1Char('/'), Qt::CaseInsensitive))
            return drive + QDir::toNativeSeparators(folder.mid(root.size() + 1));
    }
    return chosen;
}

// A drive is a folder named after its letter in "dosdevices".
void addPrefixDrive(const QString &prefixDir, char letter)
{
    QDir(prefixDir).mkpath(QStringLiteral("drive_") + QLatin1Char(letter));
    QDir(prefixDir).mkpath(QStringLiteral("dosdevices/") + QLatin1Char(letter));
}

bool namesAreBytes()
{
    return false;
}

bool symbolicLinks()
{
    return false;
}

bool prefixIsWine()
{
    return false;
}

bool listedFolderCanGo()
{
    return false;
}

QByteArrayList listed(const QByteArray &hostFolder)
{
    QByteArrayList names;
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW(wide(QString::fromUtf8(hostFolder) + QStringLiteral("\\*")), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const QByteArray name = QString::fromWCharArray(found.cFileName).toUtf8();
        if (name != "." && name != "..")
            names.append(name);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

bool makeFile(const QByteArray &hostPath)
{
    const HANDLE file = ::CreateFileW(wide(QString::fromUtf8(hostPath)), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool wrote = ::WriteFile(file, "data", 4, &written, nullptr) && written == 4;
    return ::CloseHandle(file) && wrote;
}

bool makeFolder(const QByteArray &hostPath)
{
    return ::CreateDirectoryW(wide(QString::fromUtf8(hostPath)), nullptr);
}

bool present(const QByteArray &hostPath)
{
    return ::GetFileAttributesW(wide(QString::fromUtf8(hostPath))) != INVALID_FILE_ATTRIBUTES;
}

bool makeLink(const QByteArray &, const QByteArray &)
{
    return false;
}

bool removeFile(const QByteArray &hostPath)
{
    return ::DeleteFileW(wide(QString::fromUtf8(hostPath)));
}

bool modeBits()
{
    return false;
}

bool setMode(const QByteArray &, unsigned)
{
    return false;
}

bool leasesWork(const QByteArray &)
{
    return false;
}

} // namespace fixture
