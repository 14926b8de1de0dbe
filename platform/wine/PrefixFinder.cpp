#include "platform/wine/PrefixFinder.h"

#include "platform/wine/UserRegParser.h"
#include "platform/wine/VdfReader.h"
#include "platform/wine/WinePrefix.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

// A launcher's settings file is small; anything larger is not one.
constexpr qint64 LauncherFileLimit = 1 << 20;
// A player's user.reg is a few hundred kilobytes; Wine itself keeps it in memory whole.
constexpr qint64 HiveLimit = 256 << 20;

QByteArray hostName(const QString &path)
{
    return QFile::encodeName(path);
}

// The whole file when it is a regular file no larger than `limit` that can be read; a
// pipe in its place does not hold the open, a device is not read.
std::optional<QByteArray> readFile(const QByteArray &path, qint64 limit, struct stat *info = nullptr)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct Closer
    {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit)
        return std::nullopt;
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype filled = 0;
    for (;;) {
        if (filled == data.size()) {
            // A file that grows while it is read is read on, up to the limit.
            if (data.size() >= limit)
                return std::nullopt;
            data.resize(std::min<qsizetype>(limit + 1, data.size() + 4096));
        }
        const ssize_t got = ::read(fd, data.data() + filled, size_t(data.size() - filled));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            break;
        filled += got;
    }
    data.truncate(filled);
    if (info)
        *info = st;
    return data;
}

// The names in a folder, sorted by their bytes; "." and ".." left out.
std::vector<QByteArray> folderNames(const QByteArray &folder)
{
    std::vector<QByteArray> names;
    DIR *dir = ::opendir(folder.constData());
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool isFolder(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isPrefixFolder(const QByteArray &path)
{
    struct stat st;
    return isFolder(path) && ::stat(QByteArray(path + "/user.reg").constData(), &st) == 0;
}

// A path a launcher wrote: "~" stands for the home folder; only absolute paths count.
std::optional<QString> launcherPath(QString path, const PrefixSearch &search)
{
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = search.home + path.mid(1);
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return std::nullopt;
    return path;
}

// The prefix of one Lutris game: its configuration's game: → prefix:.
std::optional<QString> lutrisPrefix(const QByteArray &text, const PrefixSearch &search)
{
    // yaml-cpp refuses nesting deeper than it can descend, by an exception like any
    // other fault of the text.
    try {
        const YAML::Node root = YAML::Load(std::string(text.constData(), size_t(text.size())));
        if (!root.IsMap())
            return std::nullopt;
        const YAML::Node game = root["game"];
        if (!game || !game.IsMap())
            return std::nullopt;
        const YAML::Node prefix = game["prefix"];
        if (!prefix || !prefix.IsScalar())
            return std::nullopt;
        return launcherPath(QString::fromStdString(prefix.Scalar()), search);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

// The library folders a Steam installation lists, besides its own.
std::vector<QString> steamLibraries(const QByteArray &text)
{
    std::vector<QString> libraries;
    const std::optional<std::vector<VdfEntry>> entries = parseVdf(text);
    if (!entries)
        return libraries;
    for (const VdfEntry &top : *entries) {
        if (!top.isBlock || top.key.compare(QLatin1String("libraryfolders"), Qt::CaseInsensitive) != 0)
            continue;
        for (const VdfEntry &library : top.entries) {
            bool numbered = false;
            library.key.toUInt(&numbered);
            if (!numbered)
                continue;
            // Today a block with its "path"; before 2021 the path itself.
            if (!library.isBlock)
                libraries.push_back(library.text);
            else if (const VdfEntry *path = library.find(QStringLiteral("path")); path && !path->isBlock)
                libraries.push_back(path->text);
        }
    }
    return libraries;
}

class PrefixList final
{
public:
    void add(const QString &dir, const QString &launcher)
    {
        const QByteArray host = hostName(dir);
        struct stat st;
        if (::stat(host.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return;
        for (const auto &[device, inode] : m_seen) {
            if (device == st.st_dev && inode == st.st_ino)
                return;
        }
        m_seen.emplace_back(st.st_dev, st.st_ino);
        m_prefixes.push_back({dir, launcher});
    }

    // Every entry of a folder that is a prefix; with `nested`, also the prefixes one
    // folder further down (kept by some launchers per wine version or per store).
    void addFolderOfPrefixes(const QString &folder, const QString &launcher, bool nested = false)
    {
        const QByteArray host = hostName(folder);
        for (const QByteArray &name : folderNames(host)) {
            const QByteArray path = host + '/' + name;
            if (isPrefixFolder(path)) {
                add(QFile::decodeName(path), launcher);
            } else if (nested && isFolder(path)) {
                for (const QByteArray &inner : folderNames(path)) {
                    if (isPrefixFolder(path + '/' + inner))
                        add(QFile::decodeName(path + '/' + inner), launcher);
                }
            }
        }
    }

    std::vector<FoundPrefix> take() { return std::move(m_prefixes); }

private:
    std::vector<std::pair<dev_t, ino_t>> m_seen;
    std::vector<FoundPrefix> m_prefixes;
};

QString configHome(const PrefixSearch &search)
{
    return search.configHome.startsWith(QLatin1Char('/')) ? search.configHome
                                                          : search.home + QStringLiteral("/.config");
}

QString dataHome(const PrefixSearch &search)
{
    return search.dataHome.startsWith(QLatin1Char('/')) ? search.dataHome
                                                        : search.home + QStringLiteral("/.local/share");
}

void addLutris(PrefixList &list, const PrefixSearch &search)
{
    const QString launcher = QStringLiteral("Lutris");
    const QStringList folders{configHome(search) + QStringLiteral("/lutris/games"),
                              dataHome(search) + QStringLiteral("/lutris/games")};
    for (const QString &folder : folders) {
        const QByteArray host = hostName(folder);
        for (const QByteArray &name : folderNames(host)) {
            if (!name.endsWith(".yml"))
                continue;
            if (const auto text = readFile(host + '/' + name, LauncherFileLimit)) {
                if (const auto prefix = lutrisPrefix(*text, search))
                    list.add(*prefix, launcher);
            }
        }
    }
    list.addFolderOfPrefixes(search.home + QStringLiteral("/Games"), launcher);
}

void addSteam(PrefixList &list, const PrefixSearch &search)
{
    const QString launcher = QStringLiteral("Steam");
    std::vector<QString> libraries;
    const QStringList roots{search.home + QStringLiteral("/.steam/steam"),
                            search.home + QStringLiteral("/.local/share/Steam"),
                            search.home + QStringLiteral("/.var/app/com.valvesoftware.Steam/.local/share/Steam")};
    for (const QString &root : roots) {
        libraries.push_back(root);
        if (const auto text = readFile(hostName(root + QStringLiteral("/steamapps/libraryfolders.vdf")),
                                       LauncherFileLimit)) {
            for (const QString &library : steamLibraries(*text)) {
                if (library.startsWith(QLatin1Char('/')) && !library.contains(QChar(0)))
                    libraries.push_back(library);
            }
        }
    }
    // The same library reached through several roots is listed once, by the prefix list.
    for (const QString &library : libraries) {
        const QByteArray compat = hostName(library + QStringLiteral("/steamapps/compatdata"));
        for (const QByteArray &game : folderNames(compat)) {
            const QByteArray pfx = compat + '/' + game + "/pfx";
            if (isPrefixFolder(pfx))
                list.add(QFile::decodeName(pfx), launcher);
        }
    }
}

void addBottles(PrefixList &list, const PrefixSearch &search)
{
    const QString launcher = QStringLiteral("Bottles");
    list.addFolderOfPrefixes(dataHome(search) + QStringLiteral("/bottles/bottles"), launcher);
    list.addFolderOfPrefixes(
        search.home + QStringLiteral("/.var/app/com.usebottles.bottles/data/bottles/bottles"), launcher);
}

void addHeroic(PrefixList &list, const PrefixSearch &search)
{
    const QString launcher = QStringLiteral("Heroic");
    const QStringList folders{
        configHome(search) + QStringLiteral("/heroic/GamesConfig"),
        search.home + QStringLiteral("/.var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig")};
    for (const QString &folder : folders) {
        const QByteArray host = hostName(folder);
        for (const QByteArray &name : folderNames(host)) {
            if (!name.endsWith(".json"))
                continue;
            const auto text = readFile(host + '/' + name, LauncherFileLimit);
            if (!text)
                continue;
            const QJsonDocument document = QJsonDocument::fromJson(*text);
            if (!document.isObject())
                continue;
            // One object per game, named by the game, each with its own settings.
            const QJsonObject games = document.object();
            for (auto game = games.begin(); game != games.end(); ++game) {
                const QJsonValue prefix = game.value().toObject().value(QLatin1String("winePrefix"));
                if (!prefix.isString())
                    continue;
                if (const auto path = launcherPath(prefix.toString(), search))
                    list.add(*path, launcher);
            }
        }
    }
    list.addFolderOfPrefixes(search.home + QStringLiteral("/Games/Heroic/Prefixes"), launcher, true);
}

// What the choice needs to know of a prefix: when its hive was written, and what it holds.
struct HiveFacts
{
    struct timespec written;
    bool hasGameDirectory;
};

std::optional<HiveFacts> hiveFacts(const QString &dir)
{
    struct stat st{};
    const std::optional<QByteArray> text = readFile(hostName(dir + QStringLiteral("/user.reg")), HiveLimit, &st);
    if (!text || !text->startsWith("WINE REGISTRY Version 2"))
        return std::nullopt;
    HiveFacts facts{st.st_mtim, false};
    // Most prefixes never saw the game: the file is parsed only when it names the key.
    static constexpr std::string_view gameName = "quenmaronline";
    const auto lower = [](char a, char b) { return (a >= 'A' && a <= 'Z' ? char(a + 32) : a) == b; };
    if (std::search(text->cbegin(), text->cend(), gameName.cbegin(), gameName.cend(), lower) == text->cend())
        return facts;
    const std::optional<std::vector<UserRegKey>> keys = parseUserReg(*text);
    if (!keys)
        return std::nullopt;
    for (const UserRegKey &key : *keys) {
        if (key.path.size() != 2 || key.path.at(0).compare(QLatin1String("Software"), Qt::CaseInsensitive) != 0
            || key.path.at(1).compare(QLatin1String("QuenmarOnline"), Qt::CaseInsensitive) != 0)
            continue;
        // A value whose line was damaged keeps its name but has no data and no type: the
        // hive is damaged just where the choice looks, and the prefix is passed over.
        for (const auto &value : key.values) {
            if (value.first.compare(QLatin1String("Directory"), Qt::CaseInsensitive) == 0
                && value.second.type != RegistryValue::Type::None)
                facts.hasGameDirectory = true;
        }
    }
    return facts;
}

bool holdsGame(const QString &dir)
{
    const WinePrefix prefix(dir);
    for (const char *usual : {"c:\\program files\\quenmaronline\\quenmar.exe", "c:\\quenmaronline\\quenmar.exe"}) {
        const std::optional<QByteArray> host = prefix.toHostPath(QString::fromLatin1(usual));
        struct stat st;
        if (host && ::stat(host->constData(), &st) == 0)
            return true;
    }
    return false;
}

bool writtenLater(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// The real path of a folder, or nothing.
std::optional<QByteArray> realFolder(const QByteArray &path)
{
    char *resolved = ::realpath(path.constData(), nullptr);
    if (!resolved)
        return std::nullopt;
    QByteArray real(resolved);
    std::free(resolved);
    return real;
}

bool below(const QByteArray &path, const QByteArray &folder)
{
    if (folder == "/")
        return true;
    return path == folder || (path.startsWith(folder) && path.at(folder.size()) == '/');
}

// How closely a prefix's drives hold a real path: the length of the deepest drive target
// that holds it, -1 when none does.
qsizetype closeness(const QString &dir, const QByteArray &real)
{
    qsizetype best = -1;
    const QByteArray host = hostName(dir);
    std::vector<QByteArray> targets{QByteArray(host + "/drive_c")};
    for (char letter = 'a'; letter <= 'z'; ++letter)
        targets.push_back(host + "/dosdevices/" + letter + ':');
    for (const QByteArray &target : targets) {
        const std::optional<QByteArray> folder = realFolder(target);
        if (folder && below(real, *folder))
            best = std::max(best, folder->size());
    }
    return best;
}

} // namespace

PrefixSearch PrefixSearch::ofProcess()
{
    return {qEnvironmentVariable("HOME"), qEnvironmentVariable("XDG_CONFIG_HOME"),
            qEnvironmentVariable("XDG_DATA_HOME"), qEnvironmentVariable("WINEPREFIX")};
}

QString FoundPrefix::description() const
{
    QString text = QStringLiteral("Wine prefix: ") + dir;
    if (!launcher.isEmpty())
        text += QStringLiteral(" (") + launcher + QLatin1Char(')');
    return text;
}

std::vector<FoundPrefix> launcherPrefixes(const PrefixSearch &search)
{
    PrefixList list;
    addLutris(list, search);
    addSteam(list, search);
    addBottles(list, search);
    addHeroic(list, search);
    list.addFolderOfPrefixes(search.home + QStringLiteral("/.PlayOnLinux/wineprefix"),
                             QStringLiteral("PlayOnLinux"));
    list.add(search.home + QStringLiteral("/.wine"), QString());
    return list.take();
}

FoundPrefix choosePrefix(const PrefixSearch &search, const std::vector<FoundPrefix> &prefixes)
{
    if (!search.winePrefix.isEmpty())
        return {search.winePrefix, QStringLiteral("$WINEPREFIX")};

    const FoundPrefix *byKey = nullptr;
    const FoundPrefix *byFolder = nullptr;
    struct timespec keyWritten{};
    struct timespec folderWritten{};
    for (const FoundPrefix &prefix : prefixes) {
        const std::optional<HiveFacts> facts = hiveFacts(prefix.dir);
        if (!facts)
            continue;
        if (facts->hasGameDirectory) {
            if (!byKey || writtenLater(facts->written, keyWritten)) {
                byKey = &prefix;
                keyWritten = facts->written;
            }
        } else if (!byKey && holdsGame(prefix.dir)) {
            // Only while no prefix has the key: then the folders decide.
            if (!byFolder || writtenLater(facts->written, folderWritten)) {
                byFolder = &prefix;
                folderWritten = facts->written;
            }
        }
    }
    if (byKey)
        return *byKey;
    if (byFolder)
        return *byFolder;
    return {search.home + QStringLiteral("/.wine"), QString()};
}

std::optional<FoundPrefix> prefixHolding(const QByteArray &hostFolder,
                                         const std::vector<FoundPrefix> &prefixes,
                                         const QString &current)
{
    const std::optional<QByteArray> real = realFolder(hostFolder);
    if (!real)
        return std::nullopt;

    std::vector<FoundPrefix> candidates = prefixes;
    // A prefix no launcher named: the folder lies in its drive_c.
    for (QByteArray path = *real; path.size() > 1;) {
        const qsizetype slash = path.lastIndexOf('/');
        if (path.mid(slash + 1) == "drive_c") {
            const QByteArray prefix = path.left(std::max<qsizetype>(slash, 1));
            if (isPrefixFolder(prefix))
                candidates.push_back({QFile::decodeName(prefix), QString()});
            break;
        }
        path.truncate(slash);
    }

    const qsizetype held = closeness(current, *real);
    const FoundPrefix *best = nullptr;
    qsizetype bestCloseness = held;
    for (const FoundPrefix &candidate : candidates) {
        const qsizetype c = closeness(candidate.dir, *real);
        if (c > bestCloseness) {
            best = &candidate;
            bestCloseness = c;
        }
    }
    if (!best)
        return std::nullopt;
    // The current prefix reached again under another name is no move.
    const auto currentReal = realFolder(hostName(current));
    if (currentReal && currentReal == realFolder(hostName(best->dir)))
        return std::nullopt;
    return *best;
}

} // namespace qm
