#include "platform/Ansi.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace qm {

namespace {

// Bytes 0x80..0x9F of Windows-1252; the five holes decode to the C1 control of the same
// value, as Windows does.
constexpr std::array<char16_t, 32> HighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t decode(unsigned char byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return HighControls[byte - 0x80];
    return byte;
}

struct Conversion
{
    char16_t character;
    unsigned char byte;
};

// What Windows makes of each character when it converts to this code page: the code
// page's own characters, and the best-fit letter of many others (L with stroke is "L").
constexpr Conversion Conversions[] = {
#include "platform/Windows1252Table.inc"
};

int encode(char32_t code)
{
    if (code > 0xFFFF)
        return -1;
    const auto found = std::lower_bound(std::begin(Conversions), std::end(Conversions), code,
                                        [](const Conversion &entry, char32_t c) { return entry.character < c; });
    if (found == std::end(Conversions) || found->character != code)
        return -1;
    return found->byte;
}

} // namespace

QByteArray toWindows1252(const QString &text)
{
    QByteArray result;
    result.reserve(text.size());
    for (auto it = text.cbegin(); it != text.cend(); ++it) {
        char32_t code = it->unicode();
        // A surrogate pair is one character: one "?".
        if (it->isHighSurrogate() && it + 1 != text.cend() && (it + 1)->isLowSurrogate()) {
            const QChar high = *it++;
            code = QChar::surrogateToUcs4(high, *it);
        }
        const int byte = encode(code);
        result.append(byte < 0 ? '?' : char(byte));
    }
    return result;
}

QString fromWindows1252(std::string_view bytes)
{
    QString result(qsizetype(bytes.size()), Qt::Uninitialized);
    QChar *out = result.data();
    for (const char c : bytes)
        *out++ = QChar(decode(static_cast<unsigned char>(c)));
    return result;
}

} // namespace qm
