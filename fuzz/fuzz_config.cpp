// The settings file reader on any bytes: Config reads them as config/setup.ini through a
// file system that serves the input, and what it keeps must agree with the input.
#include "platform/FileSystem.h"
#include "settings/Configuration.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

class InputFiles final : public qm::FileSystem
{
public:
    std::string text;

    bool exists(const QString &) const override { return true; }
    bool readWholeFile(const QString &path, std::string &contents) const override
    {
        if (!path.endsWith(QStringLiteral("/config/setup.ini")))
            std::abort(); // the reader asked for some other file
        contents = text;
        return true;
    }
    bool listFolder(const QString &, const std::function<void(const QByteArray &)> &) const override
    {
        return false;
    }
    bool deleteFile(const QString &, const QByteArray &) const override { std::abort(); }
};

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    InputFiles files;
    files.text.assign(reinterpret_cast<const char *>(data), size);
    const Config config(QStringLiteral("c:\\Game"), files);

    // One raw and one key line per line of the file; neither holds more than the file.
    check(config.RawLines.size() == config.KeyLines.size());
    std::size_t rawBytes = 0;
    std::size_t keyBytes = 0;
    for (std::size_t i = 0; i < config.RawLines.size(); ++i) {
        const std::string_view raw = config.RawLines[i];
        const std::string_view key = config.KeyLines[i];
        check(key.size() <= raw.size());
        check(raw.find('\n') == std::string_view::npos && raw.find('\r') == std::string_view::npos);
        check(key.find(' ') == std::string_view::npos);
        rawBytes += raw.size();
        keyBytes += key.size();
    }
    check(rawBytes <= size && keyBytes <= size);
    // A value text is built from the file's bytes within a budget proportional to it.
    check(config.Host.size() <= 4 * size + (1u << 20));
    check(config.Language >= 0 && config.Language <= 3);
    check(config.Keyboard >= 0 && config.Keyboard <= 3);
    (void)config.GetPort();
    return 0;
}
