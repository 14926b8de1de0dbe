// Conversion between the edits' wide text and the game's Western code page (Windows-1252).

#include "platform/Ansi.h"

#include <QTest>

#include <string_view>

class TestAnsi : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void highRange_data();
    void highRange();
    void singleByteRangesMapOneToOne();
    void toAnsi_data();
    void toAnsi();
    void fromAnsiKeepsEveryByte();
    void basicPlaneConvertedOneByteEach();
};

void TestAnsi::highRange_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("character");

    // Written out from the code page's published table, not from the program's.
    const struct {
        const char *name;
        int byte;
        int character;
    } rows[] = {
        {"0x80 euro sign", 0x80, 0x20AC},
        {"0x81 undefined, C1 control", 0x81, 0x0081},
        {"0x82 single low-9 quotation mark", 0x82, 0x201A},
        {"0x83 f with hook", 0x83, 0x0192},
        {"0x84 double low-9 quotation mark", 0x84, 0x201E},
        {"0x85 horizontal ellipsis", 0x85, 0x2026},
        {"0x86 dagger", 0x86, 0x2020},
        {"0x87 double dagger", 0x87, 0x2021},
        {"0x88 modifier circumflex", 0x88, 0x02C6},
        {"0x89 per mille sign", 0x89, 0x2030},
        {"0x8A S with caron", 0x8A, 0x0160},
        {"0x8B single left angle quotation mark", 0x8B, 0x2039},
        {"0x8C ligature OE", 0x8C, 0x0152},
        {"0x8D undefined, C1 control", 0x8D, 0x008D},
        {"0x8E Z with caron", 0x8E, 0x017D},
        {"0x8F undefined, C1 control", 0x8F, 0x008F},
        {"0x90 undefined, C1 control", 0x90, 0x0090},
        {"0x91 left single quotation mark", 0x91, 0x2018},
        {"0x92 right single quotation mark", 0x92, 0x2019},
        {"0x93 left double quotation mark", 0x93, 0x201C},
        {"0x94 right double quotation mark", 0x94, 0x201D},
        {"0x95 bullet", 0x95, 0x2022},
        {"0x96 en dash", 0x96, 0x2013},
        {"0x97 em dash", 0x97, 0x2014},
        {"0x98 small tilde", 0x98, 0x02DC},
        {"0x99 trade mark sign", 0x99, 0x2122},
        {"0x9A s with caron", 0x9A, 0x0161},
        {"0x9B single right angle quotation mark", 0x9B, 0x203A},
        {"0x9C ligature oe", 0x9C, 0x0153},
        {"0x9D undefined, C1 control", 0x9D, 0x009D},
        {"0x9E z with caron", 0x9E, 0x017E},
        {"0x9F Y with diaeresis", 0x9F, 0x0178},
    };
    for (const auto &row : rows)
        QTest::newRow(row.name) << row.byte << row.character;
}

void TestAnsi::highRange()
{
    QFETCH(int, byte);
    QFETCH(int, character);
    const char raw = char(byte);
    const QString text{QChar(char16_t(character))};

    QCOMPARE(qm::fromAnsi(std::string_view(&raw, 1)), text);
    QCOMPARE(qm::toAnsi(text), QByteArray(1, raw));
}

void TestAnsi::singleByteRangesMapOneToOne()
{
    // ASCII (NUL included) and the Latin-1 range 0xA0..0xFF are the same numbers in both.
    for (int code = 0; code < 0x100; ++code) {
        if (code >= 0x80 && code < 0xA0)
            continue;
        const char raw = char(code);
        const QString text{QChar(char16_t(code))};
        QCOMPARE(qm::toAnsi(text), QByteArray(1, raw));
        QCOMPARE(qm::fromAnsi(std::string_view(&raw, 1)), text);
    }
}

void TestAnsi::toAnsi_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("plain and accented") << QStringLiteral(u"Zo\u00EB \u00E9t\u00E9 \u00FF")
                                        << QByteArray("Zo\xEB \xE9t\xE9 \xFF");
    QTest::newRow("euro between letters") << QStringLiteral(u"a\u20ACb") << QByteArray("a\x80" "b");
    // The C1 controls whose bytes the code page gives to other characters.
    QTest::newRow("C1 control 0x80 is not the euro") << QStringLiteral(u"\u0080") << QByteArray("?");
    QTest::newRow("C1 control 0x9B is not the angle quote") << QStringLiteral(u"\u009B") << QByteArray("?");
    // Characters the code page lacks: Windows writes a best-fit letter where it has one.
    QTest::newRow("A with macron") << QStringLiteral(u"x\u0100y") << QByteArray("xAy");
    QTest::newRow("Polish name") << QStringLiteral(u"\u0141ukasz \u0142\u00F3d\u017A") << QByteArray("Lukasz l\xF3" "dz");
    QTest::newRow("Hungarian name") << QStringLiteral(u"Erd\u0151s \u0150") << QByteArray("Erdos O");
    QTest::newRow("dotless i") << QStringLiteral(u"\u0131") << QByteArray("i");
    QTest::newRow("Greek letters") << QStringLiteral(u"\u0393\u03A3\u03B1") << QByteArray("GSa");
    QTest::newRow("infinity") << QStringLiteral(u"\u221E") << QByteArray("8");
    QTest::newRow("less or equal") << QStringLiteral(u"\u2264") << QByteArray("=");
    QTest::newRow("prime and double prime modifiers") << QStringLiteral(u"\u2032\u02BA") << QByteArray("'\"");
    QTest::newRow("combining grave") << QStringLiteral(u"a\u0300") << QByteArray("a`");
    QTest::newRow("fullwidth letters and digits") << QStringLiteral(u"\uFF21\uFF5A\uFF10") << QByteArray("Az0");
    QTest::newRow("ideographic space") << QStringLiteral(u"\u3000") << QByteArray(" ");
    // ... and "?" where it has none.
    QTest::newRow("Cyrillic") << QStringLiteral(u"\u0416\u0416") << QByteArray("??");
    QTest::newRow("CJK") << QStringLiteral(u"\u4E2D") << QByteArray("?");
    QTest::newRow("replacement character") << QStringLiteral(u"\uFFFD") << QByteArray("?");
    QTest::newRow("surrogate pair is one character") << QStringLiteral(u"a\U0001F600b") << QByteArray("a?b");
    QTest::newRow("two pairs in a row") << QStringLiteral(u"\U0001F600\U00010348") << QByteArray("??");
    QTest::newRow("lone high surrogate") << QString(QChar(char16_t(0xD83D))) + QLatin1Char('a') << QByteArray("?a");
    QTest::newRow("lone high surrogate at the end") << QLatin1Char('a') + QString(QChar(char16_t(0xD83D)))
                                                    << QByteArray("a?");
    QTest::newRow("lone low surrogate") << QLatin1Char('a') + QString(QChar(char16_t(0xDE00))) << QByteArray("a?");
    QTest::newRow("low before high is two characters")
        << QString(QChar(char16_t(0xDE00))) + QString(QChar(char16_t(0xD83D))) << QByteArray("??");
}

void TestAnsi::toAnsi()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(qm::toAnsi(text), bytes);
}

void TestAnsi::fromAnsiKeepsEveryByte()
{
    // A zero byte inside is a character like any other, not an end.
    const std::string_view bytes("a\0\x80\x9B\xFF", 5);
    QCOMPARE(qm::fromAnsi(bytes), QStringLiteral(u"a\u0000\u20AC\u203A\u00FF"));
    QCOMPARE(qm::fromAnsi(std::string_view()), QString());
}

void TestAnsi::basicPlaneConvertedOneByteEach()
{
    // Windows converts 696 of the basic plane's code units to a byte other than "?": the
    // code page's 255 characters besides "?" and 441 best fits. Each unit is one byte.
    int converted = 0;
    for (int code = 0; code <= 0xFFFF; ++code) {
        const QByteArray bytes = qm::toAnsi(QString(QChar(char16_t(code))));
        QCOMPARE(bytes.size(), 1);
        if (bytes != "?")
            ++converted;
    }
    QCOMPARE(converted, 696);
}

QTEST_APPLESS_MAIN(TestAnsi)
#include "tst_ansi.moc"
