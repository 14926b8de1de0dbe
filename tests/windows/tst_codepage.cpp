// The Western code page table that the Linux build converts with, against the system's
// own conversion: every character of the Basic Multilingual Plane must come out as the
// byte Windows (here Wine) makes of it, best-fit letters included.
#include "platform/Ansi.h"

#include <QtTest>

#include <windows.h>

class CodePageTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tableMatchesSystem();
    void bytesDecodeAsSystem();
};

void CodePageTest::tableMatchesSystem()
{
    QStringList differences;
    for (char32_t code = 1; code <= 0xFFFF; ++code) {
        if (code >= 0xD800 && code <= 0xDFFF)
            continue; // halves of pairs are no characters of their own
        const wchar_t wide = wchar_t(code);
        char byte = 0;
        const int size = ::WideCharToMultiByte(1252, 0, &wide, 1, &byte, 1, nullptr, nullptr);
        const QByteArray system = size == 1 ? QByteArray(1, byte) : QByteArray();
        const QByteArray table = qm::toWindows1252(QString(QChar(char16_t(code))));
        if (table != system) {
            differences.append(QStringLiteral("U+%1: table %2, system %3")
                                   .arg(uint(code), 4, 16, QLatin1Char('0'))
                                   .arg(QString::fromLatin1(table.toHex()), QString::fromLatin1(system.toHex())));
        }
    }
    if (!differences.isEmpty())
        QFAIL(qPrintable(QString::number(differences.size()) + QStringLiteral(" characters differ, first: ")
                         + differences.mid(0, 20).join(QStringLiteral("; "))));
}

void CodePageTest::bytesDecodeAsSystem()
{
    for (int byte = 0; byte < 256; ++byte) {
        const char in = char(byte);
        wchar_t wide = 0;
        QCOMPARE(::MultiByteToWideChar(1252, 0, &in, 1, &wide, 1), 1);
        QCOMPARE(qm::fromWindows1252(std::string_view(&in, 1)), QString(QChar(char16_t(wide))));
    }
}

QTEST_GUILESS_MAIN(CodePageTest)
#include "tst_codepage.moc"
