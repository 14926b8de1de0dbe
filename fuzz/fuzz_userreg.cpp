// The user.reg reader on any bytes: it either refuses the text or gives keys whose paths
// hold no empty names. (A value's type says nothing of its size: "hex(4):01" is a one-byte
// number, as Wine keeps it.)
#include "platform/wine/UserRegParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto keys = qm::parseUserReg(text);
    if (!keys)
        return 0;
    if (!text.startsWith("WINE REGISTRY Version 2"))
        std::abort(); // accepted a text that is not a hive
    for (const qm::UserRegKey &key : *keys) {
        for (const QString &name : key.path) {
            if (name.isEmpty())
                std::abort();
        }
    }
    return 0;
}
