// The reader of Steam's key-value text files, on the shapes Steam writes and on damaged
// ones. Entries are shown as "key=text" and "key{...}" to compare whole trees at once.

#include "platform/wine/VdfReader.h"

#include <QTest>

namespace {

QString shown(const std::vector<qm::VdfEntry> &entries)
{
    QStringList parts;
    for (const qm::VdfEntry &entry : entries) {
        parts.append(entry.isBlock ? QString(entry.key + QLatin1Char('{') + shown(entry.entries) + QLatin1Char('}'))
                                   : QString(entry.key + QLatin1Char('=') + entry.text));
    }
    return parts.join(QLatin1Char(' '));
}

QByteArray nested(int depth)
{
    QByteArray text;
    for (int i = 0; i < depth; ++i)
        text += "\"k\" { ";
    text += "\"path\" \"/x\" ";
    for (int i = 0; i < depth; ++i)
        text += "} ";
    return text;
}

} // namespace

class TestVdfReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_data();
    void parse();
    void find();
};

void TestVdfReader::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QString>("entries");

    QTest::newRow("library list as Steam writes it")
        << QByteArray("\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"/home/p/.local/share/Steam\"\n"
                      "\t\t\"apps\"\n\t\t{\n\t\t\t\"228980\"\t\t\"318394213\"\n\t\t}\n\t}\n}\n")
        << true << "libraryfolders{0{path=/home/p/.local/share/Steam apps{228980=318394213}}}";
    QTest::newRow("empty text") << QByteArray() << true << "";
    QTest::newRow("blanks and comments only") << QByteArray("  // one\n\t// two") << true << "";
    QTest::newRow("comment after a value") << QByteArray("\"a\" \"b\" // note \"c\" \"d\"\n\"e\" \"f\"") << true << "a=b e=f";
    QTest::newRow("bare words") << QByteArray("key value\nblock { inner 12 }") << true << "key=value block{inner=12}";
    QTest::newRow("words end at quotes and braces") << QByteArray("a\"b\"c{d\"e\"}") << true << "a=b c{d=e}";
    QTest::newRow("escapes") << QByteArray(R"("p" "C:\\Games\\\"Q\"\n\tx" "k" "\q")") << true
                             << QStringLiteral("p=C:\\Games\\\"Q\"\n\tx k=\\q");
    QTest::newRow("empty key and value") << QByteArray("\"\" \"\"") << true << "=";
    QTest::newRow("platform conditions skipped")
        << QByteArray("\"a\" \"1\" [$WIN32]\n\"b\" { \"c\" \"2\" } [!$OSX]") << true << "a=1 b{c=2}";
    QTest::newRow("UTF-8") << QByteArray("\"path\" \"/home/Zo\xc3\xab/Spiele\"") << true << QStringLiteral(u"path=/home/Zo\u00EB/Spiele");
    QTest::newRow("CRLF lines") << QByteArray("\"a\"\r\n{\r\n\"b\" \"c\"\r\n}\r\n") << true << "a{b=c}";
    QTest::newRow("64 blocks deep") << nested(64) << true << QString();
    QTest::newRow("65 blocks deep") << nested(65) << false << QString();
    QTest::newRow("unterminated string") << QByteArray("\"a\" \"b") << false << QString();
    QTest::newRow("backslash at the end") << QByteArray("\"a\" \"b\\") << false << QString();
    QTest::newRow("unterminated block") << QByteArray("\"a\" { \"b\" \"c\"") << false << QString();
    QTest::newRow("stray closing brace") << QByteArray("\"a\" \"b\" }") << false << QString();
    QTest::newRow("block without key") << QByteArray("{ \"a\" \"b\" }") << false << QString();
    QTest::newRow("key without value") << QByteArray("\"a\" \"b\" \"c\"") << false << QString();
    QTest::newRow("key before a closing brace") << QByteArray("\"a\" { \"b\" }") << false << QString();
    QTest::newRow("unterminated condition") << QByteArray("\"a\" \"b\" [$WIN32") << false << QString();
}

void TestVdfReader::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, read);
    QFETCH(QString, entries);

    const auto parsed = qm::parseVdf(text);
    QCOMPARE(bool(parsed), read);
    if (parsed && !entries.isNull())
        QCOMPARE(shown(*parsed), entries);
}

void TestVdfReader::find()
{
    const auto parsed = qm::parseVdf("\"LibraryFolders\" { \"Path\" \"/one\" \"path\" \"/two\" }");
    QVERIFY(parsed);
    QCOMPARE(parsed->size(), size_t(1));
    const qm::VdfEntry *path = parsed->front().find(QStringLiteral("PATH"));
    QVERIFY(path);
    QCOMPARE(path->text, QStringLiteral("/one"));
    QVERIFY(!parsed->front().find(QStringLiteral("label")));
}

QTEST_GUILESS_MAIN(TestVdfReader)
#include "tst_vdfreader.moc"
