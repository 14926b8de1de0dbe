// The user.reg reader on any bytes: it refuses exactly the texts whose first line is not
// the version line, and gives keys whose paths hold no empty names. (A value's type says nothing of its size: "hex(4):01" is a one-byte
// number, as Wine keeps it.)
#include "platform/wine/UserRegParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto keys = qm::parseUserReg(text);
    // The first line as wineserver reads it: up to its line feed or a NUL, less a carriage
    // return before the line feed.
    const qsizetype newline = text.indexOf('\n');
    QByteArray first = newline < 0 ? text : text.left(newline);
    if (const qsizetype nul = first.indexOf('\0'); nul >= 0)
        first.truncate(nul);
    else if (newline >= 0 && first.endsWith('\r'))
        first.chop(1);
    if (bool(keys) != (first == "WINE REGISTRY Version 2"))
        std::abort(); // refused a hive, or accepted a text that is none
    if (!keys)
        return 0;
    for (const qm::UserRegKey &key : *keys) {
        for (const QString &name : key.path) {
            if (name.isEmpty())
                std::abort();
        }
    }
    return 0;
}
