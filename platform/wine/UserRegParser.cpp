#include "platform/wine/UserRegParser.h"

#include <cstring>

namespace qm {

namespace {

constexpr char versionLine[] = "WINE REGISTRY Version 2";

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void skipBlanks(const char *&p, const char *end)
{
    while (p < end && isBlank(*p))
        ++p;
}

bool startsWith(const char *p, const char *end, const char *literal)
{
    const size_t length = std::strlen(literal);
    return size_t(end - p) >= length && std::memcmp(p, literal, length) == 0;
}

// The file's lines, without their line ends.
class Lines final
{
public:
    explicit Lines(const QByteArray &text)
        : m_pos(text.constData()), m_end(text.constData() + text.size())
    {
    }

    bool next(const char *&begin, const char *&end)
    {
        if (m_pos >= m_end)
            return false;
        begin = m_pos;
        const void *newline = std::memchr(m_pos, '\n', size_t(m_end - m_pos));
        end = newline ? static_cast<const char *>(newline) : m_end;
        m_pos = newline ? end + 1 : m_end;
        if (end > begin && end[-1] == '\r')
            --end;
        return true;
    }

private:
    const char *m_pos;
    const char *m_end;
};

// A quoted text up to `terminator`, with Wine's escapes: the C ones, "\x" with up to four
// hex digits giving one UTF-16 unit, octal with up to three digits; any other escaped
// character stands for itself. Everything else is UTF-8. Leaves `p` after the terminator.
bool parseText(const char *&p, const char *end, char terminator, QString &out)
{
    out.clear();
    const char *run = p; // raw UTF-8 not yet decoded
    const auto flush = [&](const char *upTo) {
        if (upTo > run)
            out += QString::fromUtf8(run, upTo - run);
    };
    while (p < end) {
        const char c = *p;
        if (c == terminator) {
            flush(p);
            ++p;
            return true;
        }
        if (c != '\\') {
            ++p;
            continue;
        }
        flush(p);
        ++p;
        if (p == end)
            return false;
        char16_t unit = 0;
        switch (*p) {
        case 'a': unit = u'\a'; ++p; break;
        case 'b': unit = u'\b'; ++p; break;
        case 'e': unit = 0x1b; ++p; break;
        case 'f': unit = u'\f'; ++p; break;
        case 'n': unit = u'\n'; ++p; break;
        case 'r': unit = u'\r'; ++p; break;
        case 't': unit = u'\t'; ++p; break;
        case 'v': unit = u'\v'; ++p; break;
        case 'x':
            ++p;
            if (p == end || hexDigit(*p) < 0) {
                unit = u'x';
                break;
            }
            for (int i = 0; i < 4 && p < end && hexDigit(*p) >= 0; ++i, ++p)
                unit = char16_t(unit * 16 + hexDigit(*p));
            break;
        case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7':
            for (int i = 0; i < 3 && p < end && *p >= '0' && *p <= '7'; ++i, ++p)
                unit = char16_t(unit * 8 + (*p - '0'));
            break;
        default:
            // The escaped character itself, decoded with what follows it.
            run = p;
            ++p;
            continue;
        }
        out += QChar(unit);
        run = p;
    }
    return false;
}

// Comma-separated hex bytes, continued on the next line after a trailing backslash.
bool parseHex(const char *&p, const char *&end, Lines &lines, QByteArray &out)
{
    for (;;) {
        skipBlanks(p, end);
        while (p < end && hexDigit(*p) >= 0) {
            unsigned value = 0;
            while (p < end && hexDigit(*p) >= 0) {
                value = value * 16 + unsigned(hexDigit(*p));
                if (value > 0xff)
                    return false;
                ++p;
            }
            out.append(char(value));
            skipBlanks(p, end);
            if (p < end && *p == ',')
                ++p;
            skipBlanks(p, end);
        }
        if (p == end)
            return true;
        if (*p != '\\')
            return false;
        ++p;
        skipBlanks(p, end);
        if (p != end || !lines.next(p, end))
            return false;
        skipBlanks(p, end);
    }
}

// "(<hex>):" after "str" or "hex": the value's type number.
bool parseTypeNumber(const char *&p, const char *end, unsigned &type)
{
    if (p == end || *p != '(')
        return false;
    ++p;
    type = 0;
    int digits = 0;
    while (p < end && hexDigit(*p) >= 0) {
        if (++digits > 8)
            return false;
        type = type * 16 + unsigned(hexDigit(*p++));
    }
    if (digits == 0 || !startsWith(p, end, "):"))
        return false;
    p += 2;
    return true;
}

QString fromUtf16Bytes(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text += QChar(char16_t(uchar(bytes[i]) | (uchar(bytes[i + 1]) << 8)));
    return text;
}

RegistryValue::Type typeOf(unsigned type)
{
    switch (type) {
    case 1: return RegistryValue::Type::String;
    case 2: return RegistryValue::Type::ExpandString;
    case 3: return RegistryValue::Type::Binary;
    case 4: return RegistryValue::Type::DWord;
    case 7: return RegistryValue::Type::MultiString;
    case 11: return RegistryValue::Type::QWord;
    default: return RegistryValue::Type::Other;
    }
}

// The parts of a multi-string, which ends with its last part's NUL, one per line.
QString multiStringText(QString stored)
{
    while (stored.endsWith(QChar(0)))
        stored.chop(1);
    return stored.split(QChar(0)).join(QLatin1Char('\n'));
}

bool parseData(const char *&p, const char *&end, Lines &lines, RegistryValue &value)
{
    value = RegistryValue();
    if (p < end && *p == '"') {
        ++p;
        value.type = RegistryValue::Type::String;
        return parseText(p, end, '"', value.text);
    }
    if (startsWith(p, end, "str")) {
        p += 3;
        unsigned type = 0;
        if (!parseTypeNumber(p, end, type) || p == end || *p != '"')
            return false;
        ++p;
        value.type = typeOf(type);
        if (!parseText(p, end, '"', value.text))
            return false;
        if (value.type == RegistryValue::Type::MultiString)
            value.text = multiStringText(value.text);
        return true;
    }
    if (startsWith(p, end, "dword:")) {
        p += 6;
        quint32 number = 0;
        int digits = 0;
        while (p < end && hexDigit(*p) >= 0) {
            if (++digits > 8)
                return false;
            number = number * 16 + quint32(hexDigit(*p++));
        }
        if (digits == 0)
            return false;
        value.type = RegistryValue::Type::DWord;
        for (int i = 0; i < 4; ++i)
            value.data.append(char((number >> (8 * i)) & 0xff));
        return true;
    }
    if (startsWith(p, end, "hex")) {
        p += 3;
        unsigned type = 3;
        if (p < end && *p == ':')
            ++p;
        else if (!parseTypeNumber(p, end, type))
            return false;
        value.type = typeOf(type);
        if (!parseHex(p, end, lines, value.data))
            return false;
        switch (value.type) {
        case RegistryValue::Type::String:
        case RegistryValue::Type::ExpandString:
            value.text = fromUtf16Bytes(value.data);
            break;
        case RegistryValue::Type::MultiString:
            value.text = multiStringText(fromUtf16Bytes(value.data));
            break;
        default:
            break;
        }
        return true;
    }
    return false;
}

QStringList keyPath(const QString &name)
{
    // Runs of backslashes separate like one, as when the system opens a path.
    return name.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

} // namespace

std::optional<std::vector<UserRegKey>> parseUserReg(const QByteArray &text)
{
    // Wine never writes a NUL byte; one means the file is not text at all.
    if (text.contains('\0'))
        return std::nullopt;

    Lines lines(text);
    const char *p = nullptr;
    const char *end = nullptr;
    if (!lines.next(p, end) || QByteArray(p, end - p) != versionLine)
        return std::nullopt;

    std::vector<UserRegKey> keys;
    QString name;
    while (lines.next(p, end)) {
        skipBlanks(p, end);
        if (p == end || *p == ';' || *p == '#')
            continue; // blank line, comment, "#arch=" or a key's "#time=", "#class=", "#link"

        if (*p == '[') {
            ++p;
            if (!parseText(p, end, ']', name))
                return std::nullopt;
            // Then the time of the last change, in seconds.
            skipBlanks(p, end);
            while (p < end && *p >= '0' && *p <= '9')
                ++p;
            skipBlanks(p, end);
            if (p != end)
                return std::nullopt;
            keys.push_back(UserRegKey{keyPath(name), {}});
            continue;
        }

        if (*p != '"' && *p != '@')
            return std::nullopt;
        if (keys.empty())
            return std::nullopt; // a value belongs to no key
        if (*p == '@') {
            ++p;
            name.clear();
        } else {
            ++p;
            if (!parseText(p, end, '"', name))
                return std::nullopt;
        }
        skipBlanks(p, end);
        if (p == end || *p != '=')
            return std::nullopt;
        ++p;
        skipBlanks(p, end);
        RegistryValue value;
        if (!parseData(p, end, lines, value))
            return std::nullopt;
        skipBlanks(p, end);
        if (p != end)
            return std::nullopt;
        keys.back().values.emplace_back(name, std::move(value));
    }
    return keys;
}

} // namespace qm
