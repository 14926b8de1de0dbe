#include "platform/wine/UserRegParser.h"

#include <climits>
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

// The file's lines, without their line ends. wineserver reads each line as a C string: a
// NUL byte ends the line's text, and what follows it up to the line feed is not read.
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
        if (const void *nul = std::memchr(begin, '\0', size_t(end - begin)))
            end = static_cast<const char *>(nul);
        else if (newline && end > begin && end[-1] == '\r')
            --end; // CR LF
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

// A number as the C library's strtoul() reads it in base 16, which is how wineserver reads
// numbers: leading blanks, an optional sign, an optional "0x", hex digits; a value too large
// gives the largest one. Sets `p` after the number; without digits, gives 0 and leaves `p`.
unsigned long readNumber(const char *&p, const char *end)
{
    const char *s = p;
    skipBlanks(s, end);
    bool negative = false;
    if (s < end && (*s == '+' || *s == '-')) {
        negative = *s == '-';
        ++s;
    }
    if (end - s >= 3 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && hexDigit(s[2]) >= 0)
        s += 2;
    const char *digits = s;
    unsigned long value = 0;
    bool overflow = false;
    for (; s < end && hexDigit(*s) >= 0; ++s) {
        if (value > (ULONG_MAX >> 4))
            overflow = true;
        else
            value = value * 16 + unsigned(hexDigit(*s));
    }
    if (s == digits)
        return 0;
    p = s;
    if (overflow)
        return ULONG_MAX;
    return negative ? 0 - value : value;
}

// Comma-separated hex bytes, continued on the next line after a backslash (whatever follows
// the backslash on its line is not read). False when a byte is no hex number of 0 to ff,
// when something else follows the bytes, or when the continuation finds no next line.
bool parseHex(const char *&p, const char *&end, Lines &lines, QByteArray &out)
{
    for (;;) {
        while (p < end && hexDigit(*p) >= 0) {
            const char *start = p;
            const unsigned long value = readNumber(p, end);
            if (p == start || value > 0xff)
                return false;
            out.append(char(value));
            skipBlanks(p, end);
            if (p < end && *p == ',')
                ++p;
            skipBlanks(p, end);
        }
        skipBlanks(p, end);
        if (p == end)
            return true;
        if (*p != '\\')
            return false;
        if (!lines.next(p, end))
            return false;
        skipBlanks(p, end);
    }
}

QString fromUtf16Bytes(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        text += QChar(char16_t(uchar(bytes[i]) | (uchar(bytes[i + 1]) << 8)));
    return text;
}

RegistryValue::Type typeOf(quint32 type)
{
    switch (type) {
    case 0: return RegistryValue::Type::None;
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

// The data after "=", by the forms wineserver knows: a quoted text, "str:", "str(2):" or
// "str(7):" and a quoted text, "dword:" and a number, "hex:" or "hex(<type>):" and bytes.
// A text ends at its closing quote: what follows it on the line is not read. False when
// the data is none of these or cannot be read to its end.
bool parseData(const char *&p, const char *&end, Lines &lines, RegistryValue &value)
{
    value = RegistryValue();
    struct TextForm
    {
        const char *tag;
        RegistryValue::Type type;
    };
    static const TextForm textForms[] = {
        {"\"", RegistryValue::Type::String},
        {"str:\"", RegistryValue::Type::String},
        {"str(2):\"", RegistryValue::Type::ExpandString},
        {"str(7):\"", RegistryValue::Type::MultiString},
    };
    for (const TextForm &form : textForms) {
        if (!startsWith(p, end, form.tag))
            continue;
        p += std::strlen(form.tag);
        value.type = form.type;
        if (!parseText(p, end, '"', value.text))
            return false;
        if (value.type == RegistryValue::Type::MultiString)
            value.text = multiStringText(value.text);
        return true;
    }
    if (startsWith(p, end, "dword:")) {
        p += 6;
        const quint32 number = quint32(readNumber(p, end)); // the low 32 bits, as a DWORD
        value.type = RegistryValue::Type::DWord;
        for (int i = 0; i < 4; ++i)
            value.data.append(char((number >> (8 * i)) & 0xff));
        return true;
    }
    quint32 type = 3;
    if (startsWith(p, end, "hex:")) {
        p += 4;
    } else if (startsWith(p, end, "hex(")) {
        p += 4;
        type = quint32(readNumber(p, end));
        if (!startsWith(p, end, "):"))
            return false;
        p += 2;
    } else {
        return false;
    }
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

QStringList keyPath(const QString &name)
{
    // Runs of backslashes separate like one, as when the system opens a path.
    return name.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
}

} // namespace

std::optional<std::vector<UserRegKey>> parseUserReg(const QByteArray &text)
{
    Lines lines(text);
    const char *p = nullptr;
    const char *end = nullptr;
    if (!lines.next(p, end) || QByteArray(p, end - p) != versionLine)
        return std::nullopt;

    std::vector<UserRegKey> keys;
    bool inKey = false; // the last key line was read: its values follow
    QString name;
    while (lines.next(p, end)) {
        skipBlanks(p, end);
        if (p == end || *p == ';' || *p == '#')
            continue; // blank line, comment, "#arch=" or a key's "#time=", "#class=", "#link"

        if (*p == '[') {
            // The key's name up to "]"; after it Wine writes the time of the last change,
            // and whatever stands there is not needed.
            ++p;
            inKey = parseText(p, end, ']', name);
            if (inKey)
                keys.push_back(UserRegKey{keyPath(name), {}});
            continue;
        }

        if ((*p != '"' && *p != '@') || !inKey)
            continue; // a line of no known kind, or a value that belongs to no key

        if (*p == '@') {
            ++p;
            name.clear();
        } else {
            ++p;
            if (!parseText(p, end, '"', name))
                continue; // no value name: no value
        }
        skipBlanks(p, end);
        if (p == end || *p != '=')
            continue;
        ++p;
        skipBlanks(p, end);
        RegistryValue value;
        if (!parseData(p, end, lines, value)) {
            value = RegistryValue();
            value.type = RegistryValue::Type::None; // the value stands, without data
        }
        keys.back().values.emplace_back(name, std::move(value));
    }
    return keys;
}

} // namespace qm
