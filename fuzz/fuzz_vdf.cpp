// The reader of Steam's key-value files on any bytes: it either refuses the text or gives
// entries nested no deeper than its bound, which, written back in the quoted form Steam
// writes, read back as the same entries.
#include "platform/wine/VdfReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QByteArray quoted(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out + '"';
}

QByteArray written(const std::vector<qm::VdfEntry> &entries)
{
    QByteArray out;
    for (const qm::VdfEntry &entry : entries) {
        out += quoted(entry.key);
        if (entry.isBlock)
            out += "\n{\n" + written(entry.entries) + "}\n";
        else
            out += "\t" + quoted(entry.text) + "\n";
    }
    return out;
}

int depth(const std::vector<qm::VdfEntry> &entries)
{
    int deepest = 0;
    for (const qm::VdfEntry &entry : entries) {
        if (entry.isBlock)
            deepest = std::max(deepest, 1 + depth(entry.entries));
    }
    return deepest;
}

bool same(const std::vector<qm::VdfEntry> &a, const std::vector<qm::VdfEntry> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].key != b[i].key || a[i].isBlock != b[i].isBlock || a[i].text != b[i].text
            || !same(a[i].entries, b[i].entries))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto entries = qm::parseVdf(text);
    if (!entries)
        return 0;
    if (depth(*entries) > qm::VdfMaxDepth)
        std::abort();
    // Text that is not UTF-8 reads as U+FFFD, which writes back as itself.
    const auto again = qm::parseVdf(written(*entries));
    if (!again || !same(*entries, *again))
        std::abort();
    return 0;
}
