// The Windows-path resolver on any text, over a small Wine prefix made once in a temporary
// folder: drive C: with a few folders in mixed case, a name that is not UTF-8, links (one
// pointing back up, one dangling), and drive D: missing. The current folder is the prefix,
// so relative paths stay inside it too.
#include "platform/wine/WinePrefix.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_prefix;
std::string g_driveBase; // what every drive path starts with

void make(const std::string &relative, bool folder)
{
    const std::string path = g_prefix + '/' + relative;
    if (folder)
        ::mkdir(path.c_str(), 0755);
    else
        ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0644));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char pattern[] = "/tmp/qm-fuzz-prefix-XXXXXX";
    if (!::mkdtemp(pattern))
        std::abort();
    g_prefix = pattern;
    for (const char *folder : {"dosdevices", "drive_c", "drive_c/Program Files",
                               "drive_c/Program Files/QuenmarOnline", "drive_c/program files",
                               "drive_c/Program Files/QuenmarOnline/maps", "drive_c/Program Files/QuenmarOnline/pub",
                               "drive_c/Caf\xe9", "drive_c/\xc3\x89t\xc3\xa9"})
        make(folder, true);
    for (const char *file : {"drive_c/Program Files/QuenmarOnline/quenmar.exe",
                             "drive_c/Program Files/QuenmarOnline/maps/0.qmf", "drive_c/ABC", "drive_c/abc"})
        make(file, false);
    if (::symlink("../drive_c", (g_prefix + "/dosdevices/c:").c_str()) != 0
        || ::symlink("..", (g_prefix + "/drive_c/up").c_str()) != 0
        || ::symlink("nowhere", (g_prefix + "/drive_c/dangling").c_str()) != 0
        || ::chdir(g_prefix.c_str()) != 0)
        std::abort();
    g_driveBase = g_prefix + "/dosdevices/c:";
    // The folder stays behind for the next run's look; it is a few empty entries.
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Paths reach the resolver as text typed or read from the registry: any UTF-8, and
    // broken UTF-8 as Qt decodes it.
    const QString path = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    // Host paths would walk the real file system; the resolver treats them alike anyway.
    if (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1Char('\\')))
        return 0;
    const qm::WinePrefix prefix(QString::fromStdString(g_prefix));
    const std::optional<QByteArray> host = prefix.toHostPath(path);
    if (!host)
        return 0;
    if (host->contains('\0'))
        std::abort();
    const bool hasDrive = path.size() >= 2 && path.at(1) == QLatin1Char(':');
    // ".." never leaves a drive's root.
    if (hasDrive && path.at(0).toLower() == QLatin1Char('c') && !host->startsWith(g_driveBase.c_str()))
        std::abort();
    return 0;
}
