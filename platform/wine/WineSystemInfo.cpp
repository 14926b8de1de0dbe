#include "platform/wine/WineSystemInfo.h"

#include <QFile>
#include <QFileInfo>

#include <cctype>
#include <climits>

#include <utility>
#include <vector>

#include <limits.h> // HOST_NAME_MAX
#include <unistd.h>

namespace qm {

namespace {

// What a drive without a serial of its own reports.
constexpr std::uint32_t defaultSerial = 0x43000000;

bool allowedInComputerName(QChar c)
{
    const char16_t u = c.unicode();
    if ((u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9'))
        return true;
    return u < 128 && QByteArrayView("!@#$%^&')(-_{}`").contains(char(u));
}

// The number at the start of the serial file, read as the C library reads a hex number:
// blanks, a sign, an optional "0x", then digits up to the first other character.
std::uint32_t parseSerial(const QByteArray &text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    const auto isHex = [&](qsizetype at) {
        return at < text.size() && std::isxdigit(uchar(text[at]));
    };
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')
        && isHex(i + 2))
        i += 2;
    unsigned long long value = 0;
    bool overflow = false;
    for (; isHex(i); ++i) {
        const int digit = QByteArrayView("0123456789abcdef").indexOf(char(std::tolower(uchar(text[i]))));
        if (value > (ULLONG_MAX >> 4))
            overflow = true;
        value = value * 16 + unsigned(digit);
    }
    if (overflow)
        return 0xffffffffu;
    if (negative)
        value = 0 - value;
    return std::uint32_t(value);
}

} // namespace

WineSystemInfo::WineSystemInfo(WinePrefix prefix)
    : m_prefix(std::move(prefix))
{
}

QString WineSystemInfo::computerNameFor(const QString &hostName)
{
    QString name = hostName.left(hostName.indexOf(QLatin1Char('.'))).left(15);
    for (QChar &c : name) {
        if (c.unicode() >= u'a' && c.unicode() <= u'z')
            c = QChar(char16_t(c.unicode() - u'a' + u'A'));
        else if (!allowedInComputerName(c))
            c = QLatin1Char('_');
    }
    return name;
}

QString WineSystemInfo::computerName() const
{
    std::vector<char> buffer(HOST_NAME_MAX + 2, '\0');
    if (::gethostname(buffer.data(), buffer.size() - 1) != 0)
        return QString();
    return computerNameFor(QString::fromLocal8Bit(buffer.data()));
}

std::optional<std::uint32_t> WineSystemInfo::volumeSerial(const QString &root) const
{
    if (root.size() < 2 || root.at(1) != QLatin1Char(':'))
        return std::nullopt;
    const std::optional<QByteArray> drive = m_prefix.toHostPath(root.left(2) + QLatin1Char('\\'));
    if (!drive)
        return std::nullopt;
    // Only a regular file holds a serial; a pipe in its place would hold the open.
    const QString serialFile = QFile::decodeName(*drive + "/.windows-serial");
    if (!QFileInfo(serialFile).isFile())
        return defaultSerial;
    QFile file(serialFile);
    if (!file.open(QIODevice::ReadOnly))
        return defaultSerial;
    return parseSerial(file.readLine(256));
}

} // namespace qm
