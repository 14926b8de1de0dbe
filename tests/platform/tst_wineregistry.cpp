#include "platform/wine/UserRegParser.h"
#include "platform/wine/WineRegistry.h"

#include "PrefixFixture.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

using qm::RegistryError;
using qm::RegistryValue;
using qm::WinePrefix;
using qm::WineRegistry;

Q_DECLARE_METATYPE(RegistryValue::Type)

namespace {

const QByteArray header = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n";

QByteArray realHive()
{
    QFile file(QStringLiteral(QM_TEST_DATA "/user.reg"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeHive(const PrefixFixture &prefix, const QByteArray &text)
{
    QFile file(prefix.dir() + "/user.reg");
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

} // namespace

class TestWineRegistry : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void readString_data();
    void readString();
    void gameKeyPaths_data();
    void gameKeyPaths();
    void subkeys_data();
    void subkeys();
    void missingKeys_data();
    void missingKeys();
    void neverWrites();
    void readsAfreshForEveryKey();
    void unreadableHives_data();
    void unreadableHives();
    void damagedHivesKeepTheRest_data();
    void damagedHivesKeepTheRest();
    void parseValues_data();
    void parseValues();
    void readDamagedText_data();
    void readDamagedText();
    void malformedValueReplacesEarlierOne();
    void sameKeyTwice();
    void textEndsAtNul();
    void survivesDamage();
    void linearOnHugeInput_data();
    void linearOnHugeInput();

private:
    PrefixFixture m_prefix;
};

void TestWineRegistry::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    QVERIFY(!realHive().isEmpty());
}

void TestWineRegistry::readString_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("error"); // empty when the value reads as text

    QTest::newRow("plain text") << "Directory" << "C:\\Program Files\\QuenmarOnline" << "";
    QTest::newRow("name in another case") << "DIRECTORY" << "C:\\Program Files\\QuenmarOnline" << "";
    QTest::newRow("text with a blank") << "Version" << "7.4 beta" << "";
    QTest::newRow("expandable text as stored")
        << "LastServer" << "%USERPROFILE%\\q \"quoted\"" << "";
    QTest::newRow("missing value") << "Language" << "" << "";
    QTest::newRow("default value, not set") << "" << "" << "";
    QTest::newRow("number") << "Launches" << "" << "Invalid data type for 'Launches'";
    QTest::newRow("number named in another case")
        << "launches" << "" << "Invalid data type for 'launches'";
    QTest::newRow("list of texts") << "Servers" << "" << "Invalid data type for 'Servers'";
    QTest::newRow("bytes") << "Blob" << "" << "Invalid data type for 'Blob'";
}

void TestWineRegistry::readString()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QFETCH(QString, error);

    WineRegistry registry{WinePrefix(m_prefix.dir())};
    const std::unique_ptr<qm::RegistryKey> key = registry.openKey("\\Software\\QuenmarOnline");
    QVERIFY(key);
    try {
        const QString value = key->readString(name);
        QVERIFY2(error.isEmpty(), "no error raised");
        QCOMPARE(value, expected);
    } catch (const RegistryError &e) {
        QCOMPARE(QString::fromUtf8(e.what()), error);
    }
}

void TestWineRegistry::gameKeyPaths_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("leading backslash") << "\\Software\\QuenmarOnline";
    QTest::newRow("no leading backslash") << "Software\\QuenmarOnline";
    QTest::newRow("another case") << "SOFTWARE\\quenmaronline";
    QTest::newRow("doubled and trailing backslashes") << "\\\\Software\\\\QuenmarOnline\\";
}

void TestWineRegistry::gameKeyPaths()
{
    QFETCH(QString, path);
    WineRegistry registry{WinePrefix(m_prefix.dir())};
    const std::unique_ptr<qm::RegistryKey> key = registry.openKey(path);
    QVERIFY(key);
    QCOMPARE(key->readString("Version"), "7.4 beta");
}

void TestWineRegistry::subkeys_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("the game's accounts")
        << "\\Software\\QuenmarOnline"
        << QStringList{"alice", "Bob the Brave", QString::fromUtf8("Zo\xc3\xab")};
    QTest::newRow("key with values and a subkey")
        << "Software\\QuenmarOnline\\ALICE" << QStringList{"characters"};
    QTest::newRow("key with no subkeys") << "Software\\QuenmarOnline\\Bob the Brave" << QStringList();
    QTest::newRow("key with no line of its own")
        << "Software" << QStringList{"Microsoft", "QuenmarOnline", "Wine"};
    QTest::newRow("surrogate pairs in a name")
        << "Control Panel\\International"
        << QStringList{"Geo", QString::fromUtf8("\xf0\x9f\x8c\x8e\xf0\x9f\x8c\x8f\xf0\x9f\x8c\x8d")};
    QTest::newRow("root of the hive")
        << "\\" << QStringList{"AppEvents", "Control Panel", "Environment", "Keyboard Layout",
                               "Software", "Volatile Environment"};
}

void TestWineRegistry::subkeys()
{
    QFETCH(QString, path);
    QFETCH(QStringList, expected);
    WineRegistry registry{WinePrefix(m_prefix.dir())};
    const std::unique_ptr<qm::RegistryKey> key = registry.openKey(path);
    QVERIFY(key);
    QCOMPARE(key->subkeyNames(), expected);
}

void TestWineRegistry::missingKeys_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("missing key") << "Software\\Nobody";
    QTest::newRow("name that only begins like a key") << "Software\\Quenmar";
    QTest::newRow("name that continues a key") << "Software\\QuenmarOnlineX";
    QTest::newRow("below a missing key") << "Software\\Nobody\\QuenmarOnline";
    QTest::newRow("value name taken for a key") << "Software\\QuenmarOnline\\Version";
}

void TestWineRegistry::missingKeys()
{
    QFETCH(QString, path);
    WineRegistry registry{WinePrefix(m_prefix.dir())};
    QVERIFY(!registry.openKey(path));
}

void TestWineRegistry::neverWrites()
{
    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    WineRegistry registry{WinePrefix(prefix.dir())};
    QVERIFY(!registry.openKey("Software\\Nobody"));
    QVERIFY(registry.openKey("Software\\QuenmarOnline"));
    QFile file(prefix.dir() + "/user.reg");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), realHive());
    QVERIFY(!registry.openKey("Software\\Nobody"));
}

void TestWineRegistry::readsAfreshForEveryKey()
{
    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    WineRegistry registry{WinePrefix(prefix.dir())};
    const std::unique_ptr<qm::RegistryKey> before = registry.openKey("Software\\QuenmarOnline");
    QVERIFY(before);

    QByteArray changed = realHive();
    changed.replace("\"Version\"=\"7.4 beta\"", "\"Version\"=\"7.5\"");
    QVERIFY(writeHive(prefix, changed));
    const std::unique_ptr<qm::RegistryKey> after = registry.openKey("Software\\QuenmarOnline");
    QVERIFY(after);
    QCOMPARE(after->readString("Version"), "7.5");
    QCOMPARE(before->readString("Version"), "7.4 beta");

    QVERIFY(QFile::remove(prefix.dir() + "/user.reg"));
    QVERIFY(!registry.openKey("Software\\QuenmarOnline"));
}

void TestWineRegistry::unreadableHives_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("asFolder");

    const QByteArray real = realHive();
    QTest::newRow("missing file") << QByteArray() << false;
    QTest::newRow("folder in its place") << QByteArray() << true;
    QTest::newRow("empty file") << QByteArray("") << false;
    QTest::newRow("older version line")
        << QByteArray(real).replace("WINE REGISTRY Version 2", "WINE REGISTRY Version 1") << false;
    QTest::newRow("version line in another case")
        << QByteArray(real).replace("WINE REGISTRY Version 2", "Wine Registry Version 2") << false;
    QTest::newRow("version line with a trailing blank")
        << QByteArray(real).replace("WINE REGISTRY Version 2", "WINE REGISTRY Version 2 ") << false;
    QTest::newRow("regedit export") << QByteArray("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\QuenmarOnline]\n") << false;
    QTest::newRow("binary") << QByteArray("\x7f" "ELF\x02\x01\x01\0\0", 9) + real << false;
    QTest::newRow("UTF-16 text") << QByteArray("\xff\xfeW\0I\0N\0E\0", 10) << false;
    QTest::newRow("NUL byte inside the version line")
        << QByteArray(real).replace("REGISTRY", QByteArray("REGIS\0TRY", 9)) << false;
}

void TestWineRegistry::unreadableHives()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, asFolder);

    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    QVERIFY(QFile::remove(prefix.dir() + "/user.reg"));
    if (asFolder)
        QVERIFY(prefix.makeFolder("user.reg"));
    else if (!text.isNull())
        QVERIFY(writeHive(prefix, text));
    WineRegistry registry{WinePrefix(prefix.dir())};
    QVERIFY(!registry.openKey("Software\\QuenmarOnline"));
    QVERIFY(!registry.openKey("Software"));
}

// A hive that is damaged after its version line is read as wineserver loads it: the lines
// that cannot be read are skipped, the rest is kept. (These hives used to count as missing
// as a whole.)
void TestWineRegistry::damagedHivesKeepTheRest_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("version"); // "Version" of the game's key
    QTest::addColumn<QString>("error");   // what reading "Directory" raises, if anything

    const QByteArray real = realHive();
    const auto cutAt = [&](const QByteArray &marker, qsizetype extra) {
        return real.left(real.indexOf(marker) + extra);
    };
    const QString noText = QStringLiteral("Invalid data type for 'Directory'");
    QTest::newRow("cut inside the game's text: the value stands without data")
        << cutAt("\"Directory\"=\"C:", 16) << "" << noText;
    QTest::newRow("cut after a continued line: the values after it are gone")
        << cutAt("\"Blob\"=hex:", 0) + "\"Blob\"=hex:00,ff,\\\n" << "" << "";
    QTest::newRow("binary junk appended") << real + QByteArray("\x7f" "ELF\x02\x01\x01\0\0", 9) << "7.4 beta" << "";
    QTest::newRow("a line of junk in Wine's own key")
        << QByteArray(real).replace("[Software\\\\Wine\\\\AppDefaults] 1796986371\n",
                                    "[Software\\\\Wine\\\\AppDefaults] 1796986371\nthis is no line of a hive\n")
        << "7.4 beta" << "";
    QTest::newRow("a broken value in Wine's own key")
        << QByteArray(real).replace("[Software\\\\Wine\\\\Debug] 1796986376\n",
                                    "[Software\\\\Wine\\\\Debug] 1796986376\n\"Broken\"=hex:zz\n")
        << "7.4 beta" << "";
    QTest::newRow("a line of junk among the game's values")
        << QByteArray(real).replace("\"Version\"=", "Directory=D:\\Elsewhere\n\"Version\"=") << "7.4 beta" << "";
    QTest::newRow("a NUL byte inside another value")
        << QByteArray(real).replace("\"Version\"=", QByteArray("\"Other\"=\"a\0b\"\n\"Version\"=", 24)) << "7.4 beta"
        << "";
    QTest::newRow("the game's value broken")
        << QByteArray(real).replace("\"Directory\"=\"", "\"Directory\"=strange:\"") << "7.4 beta" << noText;
}

void TestWineRegistry::damagedHivesKeepTheRest()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, version);
    QFETCH(QString, error);

    QVERIFY(text != realHive());
    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    QVERIFY(writeHive(prefix, text));
    WineRegistry registry{WinePrefix(prefix.dir())};
    const std::unique_ptr<qm::RegistryKey> key = registry.openKey("\\Software\\QuenmarOnline");
    QVERIFY(key);
    QCOMPARE(key->readString("Version"), version);
    try {
        QCOMPARE(key->readString("Directory"),
                 version.isEmpty() ? QString() : QStringLiteral("C:\\Program Files\\QuenmarOnline"));
        QVERIFY2(error.isEmpty(), "no error raised");
    } catch (const RegistryError &e) {
        QCOMPARE(QString::fromUtf8(e.what()), error);
    }
    QVERIFY(registry.openKey("Software"));
}

void TestWineRegistry::parseValues_data()
{
    QTest::addColumn<QByteArray>("line"); // the value's line in key [K]
    QTest::addColumn<QString>("name");
    QTest::addColumn<RegistryValue::Type>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("data");

    using T = RegistryValue::Type;
    QTest::newRow("plain text") << QByteArray(R"("v"="abc")") << "v" << T::String << "abc" << QByteArray();
    QTest::newRow("default value") << QByteArray(R"(@="d")") << "" << T::String << "d" << QByteArray();
    QTest::newRow("empty text") << QByteArray(R"("v"="")") << "v" << T::String << "" << QByteArray();
    QTest::newRow("escaped backslash and quote")
        << QByteArray(R"("v"="a\\b\"c\"")") << "v" << T::String << "a\\b\"c\"" << QByteArray();
    QTest::newRow("C escapes")
        << QByteArray(R"("v"="\a\b\e\f\n\r\t\v")") << "v" << T::String
        << QString::fromLatin1("\a\b\x1b\f\n\r\t\v") << QByteArray();
    QTest::newRow("octal escapes, three digits at most")
        << QByteArray(R"("v"="\101\61\0\1012")") << "v" << T::String
        << QString::fromLatin1("A1\0A2", 5) << QByteArray();
    QTest::newRow("hex escapes, four digits at most")
        << QByteArray(R"("v"="Zo\xeb \x20ac\x00411")") << "v" << T::String
        << QString::fromUtf8("Zo\xc3\xab \xe2\x82\xac" "A1") << QByteArray();
    QTest::newRow("hex escape without digits")
        << QByteArray(R"("v"="\xyz")") << "v" << T::String << "xyz" << QByteArray();
    QTest::newRow("unknown escape stands for itself")
        << QByteArray(R"("v"="\q\[\]")") << "v" << T::String << "q[]" << QByteArray();
    QTest::newRow("raw UTF-8")
        << QByteArray("\"v\"=\"Zo\xc3\xab \xe2\x82\xac\"") << "v" << T::String
        << QString::fromUtf8("Zo\xc3\xab \xe2\x82\xac") << QByteArray();
    QTest::newRow("escaped name")
        << QByteArray(R"("a\"b\\c"="x")") << "a\"b\\c" << T::String << "x" << QByteArray();
    QTest::newRow("blanks around the equals sign")
        << QByteArray("\"v\" =\t\"x\"  ") << "v" << T::String << "x" << QByteArray();
    QTest::newRow("expandable text")
        << QByteArray(R"("v"=str(2):"%WINDIR%\\x")") << "v" << T::ExpandString << "%WINDIR%\\x"
        << QByteArray();
    QTest::newRow("multi-string")
        << QByteArray(R"("v"=str(7):"main\0test\0")") << "v" << T::MultiString << "main\ntest"
        << QByteArray();
    QTest::newRow("number") << QByteArray("\"v\"=dword:0000002a") << "v" << T::DWord << ""
                            << QByteArray("\x2a\0\0\0", 4);
    QTest::newRow("largest number") << QByteArray("\"v\"=dword:FFFFFFFE") << "v" << T::DWord << ""
                                    << QByteArray("\xfe\xff\xff\xff", 4);
    QTest::newRow("bytes on one line")
        << QByteArray("\"v\"=hex:00,ff,10") << "v" << T::Binary << "" << QByteArray("\0\xff\x10", 3);
    QTest::newRow("no bytes") << QByteArray("\"v\"=hex:") << "v" << T::Binary << "" << QByteArray();
    QTest::newRow("bytes continued over lines")
        << QByteArray("\"v\"=hex:01,02,\\\n  03,04,\\\n  05") << "v" << T::Binary << ""
        << QByteArray("\x01\x02\x03\x04\x05");
    QTest::newRow("continued line with CRLF")
        << QByteArray("\"v\"=hex:01,\\\r\n  02\r") << "v" << T::Binary << ""
        << QByteArray("\x01\x02");
    QTest::newRow("text kept as bytes")
        << QByteArray("\"v\"=hex(2):41,00,42,00,\\\n  00,00") << "v" << T::ExpandString
        << QString::fromLatin1("AB\0", 3) << QByteArray("A\0B\0\0\0", 6);
    QTest::newRow("large number as bytes")
        << QByteArray("\"v\"=hex(b):01,00,00,00,00,00,00,00") << "v" << T::QWord << ""
        << QByteArray("\x01\0\0\0\0\0\0\0", 8);
    QTest::newRow("type of no meaning")
        << QByteArray("\"v\"=hex(100000):ab") << "v" << T::Other << "" << QByteArray("\xab");
}

void TestWineRegistry::parseValues()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, name);
    QFETCH(RegistryValue::Type, type);
    QFETCH(QString, text);
    QFETCH(QByteArray, data);

    const auto keys = qm::parseUserReg(header + "[K] 1700000000\n#time=1d\n" + line + "\n\n");
    QVERIFY(keys);
    QCOMPARE(keys->size(), size_t(1));
    QCOMPARE(keys->at(0).path, QStringList{"K"});
    QCOMPARE(keys->at(0).values.size(), size_t(1));
    const auto &[storedName, value] = keys->at(0).values.at(0);
    QCOMPARE(storedName, name);
    QCOMPARE(value.type, type);
    QCOMPARE(value.text, text);
    QCOMPARE(value.data, data);
}

namespace {

// The keys and values read, one line each: "path" for a key, "path: name=Type text|hex".
QStringList describe(const std::optional<std::vector<qm::UserRegKey>> &keys)
{
    if (!keys)
        return {QStringLiteral("no hive")};
    static const char *const types[] = {"String", "ExpandString", "MultiString", "DWord",
                                        "QWord",  "Binary",       "None",        "Other"};
    QStringList lines;
    for (const qm::UserRegKey &key : *keys) {
        const QString path = key.path.join(QLatin1Char('\\'));
        lines.append(path);
        for (const auto &[name, value] : key.values) {
            lines.append(path + QStringLiteral(": ") + name + QLatin1Char('=')
                         + QLatin1String(types[int(value.type)]) + QLatin1Char(' ') + value.text
                         + QLatin1Char('|') + QString::fromLatin1(value.data.toHex()));
        }
    }
    return lines;
}

} // namespace

// Damaged text is read as wineserver reads it: line by line, a line that cannot be read is
// skipped and the rest is kept, and a value whose data cannot be read stands without type
// and data. Only a first line other than the version line makes the text no hive. (These
// texts were all refused as a whole before; the rows keep their names.)
void TestWineRegistry::readDamagedText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("expected");

    const QByteArray key = "[K] 1700000000\n";
    const QByteArray after = "\"after\"=\"ok\"\n";
    const QString afterRead = QStringLiteral("K: after=String ok|");
    using L = QStringList;
    QTest::newRow("no version line") << key + "\"v\"=\"x\"\n" << L{"no hive"};
    QTest::newRow("unterminated text")
        << header + key + "\"v\"=\"x\n" + after << L{"K", "K: v=None |", afterRead};
    QTest::newRow("unterminated name") << header + key + "\"v=\"x\n" + after << L{"K", afterRead};
    QTest::newRow("escape at the end of the line")
        << header + key + "\"v\"=\"x\\\n" + after << L{"K", "K: v=None |", afterRead};
    QTest::newRow("escape at the end of the file") << header + key + "\"v\"=\"x\\" << L{"K", "K: v=None |"};
    QTest::newRow("unterminated key name: its values belong to no key")
        << header + "[Software\\\\Q\n\"v\"=\"x\"\n#time=1\n" + key + after << L{"K", afterRead};
    QTest::newRow("junk after a key line") << header + "[K] 17000 junk\n" + after << L{"K", afterRead};
    QTest::newRow("junk after a value") << header + key + "\"v\"=\"x\" y\n" + after
                                        << L{"K", "K: v=String x|", afterRead};
    QTest::newRow("no equals sign") << header + key + "\"v\" \"x\"\n" + after << L{"K", afterRead};
    QTest::newRow("unknown kind of data")
        << header + key + "\"v\"=qword:1\n" + after << L{"K", "K: v=None |", afterRead};
    QTest::newRow("text of a type Wine never writes so")
        << header + key + "\"v\"=str(1):\"x\"\n" + after << L{"K", "K: v=None |", afterRead};
    QTest::newRow("text in the plain str form")
        << header + key + "\"v\"=str:\"x\"\n" + after << L{"K", "K: v=String x|", afterRead};
    QTest::newRow("number with nine digits: its low 32 bits")
        << header + key + "\"v\"=dword:123456789\n" + after << L{"K", "K: v=DWord |89674523", afterRead};
    QTest::newRow("number without digits: zero")
        << header + key + "\"v\"=dword:\n" + after << L{"K", "K: v=DWord |00000000", afterRead};
    QTest::newRow("byte above 255") << header + key + "\"v\"=hex:100\n" + after << L{"K", "K: v=None |", afterRead};
    QTest::newRow("junk among bytes") << header + key + "\"v\"=hex:01,zz\n" + after
                                      << L{"K", "K: v=None |", afterRead};
    QTest::newRow("blank before the first byte")
        << header + key + "\"v\"=hex: 01\n" + after << L{"K", "K: v=None |", afterRead};
    QTest::newRow("continued past the end") << header + key + "\"v\"=hex:01,\\\n" << L{"K", "K: v=None |"};
    QTest::newRow("junk after the continuation mark")
        << header + key + "\"v\"=hex:01,\\ x\n  02\n" + after << L{"K", "K: v=Binary |0102", afterRead};
    QTest::newRow("a broken continued line takes its next line with it")
        << header + key + "\"v\"=hex:01,\\\n" + after << L{"K", "K: v=None |"};
    QTest::newRow("type without closing")
        << header + key + "\"v\"=str(2\"x\"\n" + after << L{"K", "K: v=None |", afterRead};
    QTest::newRow("type without digits") << header + key + "\"v\"=hex():01\n" + after
                                         << L{"K", "K: v=None |01", afterRead};
    QTest::newRow("value before any key") << header + "\"v\"=\"x\"\n" + key + after << L{"K", afterRead};
    QTest::newRow("line of junk") << header + key + "v=x\n" + after << L{"K", afterRead};
    QTest::newRow("NUL byte: the line ends there")
        << header + key + QByteArray("\"v\"=\"\0\"\n", 8) + after << L{"K", "K: v=None |", afterRead};
    QTest::newRow("NUL byte after a complete value")
        << header + key + QByteArray("\"v\"=\"x\"\0junk\n", 13) + after << L{"K", "K: v=String x|", afterRead};
    QTest::newRow("version line alone") << QByteArray("WINE REGISTRY Version 2") << L{};
}

void TestWineRegistry::readDamagedText()
{
    QFETCH(QByteArray, text);
    QFETCH(QStringList, expected);
    QCOMPARE(describe(qm::parseUserReg(text)), expected);
}

// wineserver keeps one value per name: a later line of the same name, even one it cannot
// read, replaces the earlier value.
void TestWineRegistry::malformedValueReplacesEarlierOne()
{
    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    QVERIFY(writeHive(prefix, header
                      + "[Software\\\\Game] 1\n\"Directory\"=\"c:\\\\Game\"\n\"Version\"=\"1\"\n"
                        "\"directory\"=\"c:\\\\Other\n\"Version\"=\"2\"\n"));
    WineRegistry registry{WinePrefix(prefix.dir())};
    const auto key = registry.openKey("Software\\Game");
    QVERIFY(key);
    QCOMPARE(key->readString("Version"), "2");
    QVERIFY_THROWS_EXCEPTION(RegistryError, key->readString("Directory"));
}

void TestWineRegistry::sameKeyTwice()
{
    // The system opens the same key when a name returns in another case: values merge,
    // a later one replacing an earlier one of the same name.
    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    QVERIFY(writeHive(prefix, header
                      + "[Software\\\\Game] 1\n\"A\"=\"1\"\n\"B\"=\"2\"\n\n"
                        "[software\\\\GAME\\\\x] 1\n\n"
                        "[SOFTWARE\\\\game] 1\n\"b\"=\"3\"\n\n"
                        "[Software\\\\Game\\\\X] 1\n\n[Software\\\\Game\\\\y] 1\n"));
    WineRegistry registry{WinePrefix(prefix.dir())};
    const auto key = registry.openKey("Software\\Game");
    QVERIFY(key);
    QCOMPARE(key->readString("a"), "1");
    QCOMPARE(key->readString("B"), "3");
    QCOMPARE(key->subkeyNames(), (QStringList{"x", "y"}));
}

void TestWineRegistry::textEndsAtNul()
{
    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    QVERIFY(writeHive(prefix, header
                      + "[Software\\\\Game] 1\n\"Plain\"=\"C:\\\\Games\\0junk\"\n"
                        "\"Bytes\"=hex(1):43,00,3a,00,00,00,78,00\n"));
    WineRegistry registry{WinePrefix(prefix.dir())};
    const auto key = registry.openKey("Software\\Game");
    QVERIFY(key);
    QCOMPARE(key->readString("Plain"), "C:\\Games");
    QCOMPARE(key->readString("Bytes"), "C:");
}

void TestWineRegistry::survivesDamage()
{
    // Every cut of the real hive, and random damage to it, reads, unless the damage reaches
    // the version line.
    const QByteArray real = realHive();
    int read = 0;
    QList<qsizetype> cuts;
    for (qsizetype cut = 0; cut <= real.size(); cut += (cut % 2 ? 53 : 1)) {
        cuts.append(cut);
        if (qm::parseUserReg(real.left(cut)))
            ++read;
    }
    // Every cut that keeps the version line whole reads.
    QCOMPARE(read, int(std::count_if(cuts.cbegin(), cuts.cend(), [](qsizetype cut) { return cut >= 24; })));

    QRandomGenerator random(20240611);
    const QByteArray alphabet = QByteArray("\\\"[]@=:,()#;\n\r x0fF7 ", 21) + QByteArray("\xff\xc3", 2);
    for (int round = 0; round < 3000; ++round) {
        QByteArray damaged = real;
        const int changes = 1 + int(random.bounded(8));
        for (int i = 0; i < changes; ++i) {
            const qsizetype at = random.bounded(int(damaged.size()));
            switch (random.bounded(3)) {
            case 0:
                damaged[at] = alphabet.at(random.bounded(int(alphabet.size())));
                break;
            case 1:
                damaged.insert(at, alphabet.at(random.bounded(int(alphabet.size()))));
                break;
            default:
                damaged.remove(at, 1 + random.bounded(40));
                break;
            }
        }
        const auto keys = qm::parseUserReg(damaged);
        // Only the version line decides whether the text is a hive at all.
        QCOMPARE(bool(keys), damaged.startsWith("WINE REGISTRY Version 2\n"));
        if (keys) {
            for (const qm::UserRegKey &key : *keys)
                QVERIFY(!key.path.contains(QString()));
        }
    }
}

void TestWineRegistry::linearOnHugeInput_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("subkeys"); // -1 when the key does not open

    const int n = 200000;
    QTest::newRow("many subkeys") << [&]() -> QByteArray {
        QByteArray text = header;
        for (int i = 0; i < n; ++i)
            text += "[Software\\\\QuenmarOnline\\\\player" + QByteArray::number(i) + "] 1\n@=\"\"\n";
        return text;
    }() << "Software\\QuenmarOnline" << n;
    QTest::newRow("one subkey named many times") << [&]() -> QByteArray {
        QByteArray text = header;
        for (int i = 0; i < n; ++i)
            text += "[Software\\\\QuenmarOnline\\\\Player\\\\c" + QByteArray::number(i) + "] 1\n";
        return text;
    }() << "Software\\QuenmarOnline" << 1;
    QTest::newRow("very deep key") << [&]() -> QByteArray {
        return header + "[" + QByteArray("a\\\\").repeated(n) + "] 1\n";
    }() << "a\\a\\a" << 1;
    QTest::newRow("long line of escapes") << [&]() -> QByteArray {
        return header + "[Software\\\\QuenmarOnline] 1\n\"v\"=\""
            + QByteArray("\\\\\\x20\\101").repeated(n) + "\"\n";
    }() << "Software\\QuenmarOnline" << 0;
    QTest::newRow("bytes continued over many lines") << [&]() -> QByteArray {
        return header + "[Software\\\\QuenmarOnline] 1\n\"v\"=hex:"
            + QByteArray("00,11,22,\\\n  ").repeated(n) + "ff\n";
    }() << "Software\\QuenmarOnline" << 0;
    QTest::newRow("many values") << [&]() -> QByteArray {
        QByteArray text = header + "[Software\\\\QuenmarOnline] 1\n";
        for (int i = 0; i < n; ++i)
            text += "\"v" + QByteArray::number(i) + "\"=dword:1\n";
        return text;
    }() << "Software\\QuenmarOnline" << 0;
    QTest::newRow("unterminated text of a megabyte") << [&]() -> QByteArray {
        return header + "[K] 1\n\"v\"=\"" + QByteArray("\\x").repeated(5 * n);
    }() << "K" << 0;
    QTest::newRow("bytes on one line of megabytes") << [&]() -> QByteArray {
        return header + "[K] 1\n\"v\"=hex:" + QByteArray("00,11,22,").repeated(n) + "ff\n";
    }() << "K" << 0;
    QTest::newRow("many broken lines") << [&]() -> QByteArray {
        return header + "[K] 1\n" + QByteArray("\"v\"=hex:01,zz\n[broken\njunk\n").repeated(n);
    }() << "K" << 0;
}

void TestWineRegistry::linearOnHugeInput()
{
    // No timing is measured: a reader that is quadratic on any of these needs hours and
    // runs into the test's time limit.
    QFETCH(QByteArray, text);
    QFETCH(QString, path);
    QFETCH(int, subkeys);

    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    QVERIFY(writeHive(prefix, text));
    WineRegistry registry{WinePrefix(prefix.dir())};
    const auto key = registry.openKey(path);
    QCOMPARE(bool(key), subkeys >= 0);
    if (key)
        QCOMPARE(key->subkeyNames().size(), subkeys);
}

QTEST_GUILESS_MAIN(TestWineRegistry)
#include "tst_wineregistry.moc"
