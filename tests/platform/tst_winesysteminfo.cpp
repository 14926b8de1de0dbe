#include "platform/wine/WineSystemInfo.h"

#include "PrefixFixture.h"

#include <QtTest>

using qm::WinePrefix;
using qm::WineSystemInfo;

class TestWineSystemInfo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void computerNameFor_data();
    void computerNameFor();
    void computerName();
    void volumeSerial_data();
    void volumeSerial();
};

void TestWineSystemInfo::computerNameFor_data()
{
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<QString>("expected");

    QTest::newRow("short name") << "vm" << "VM";
    QTest::newRow("domain dropped") << "my.host.example" << "MY";
    QTest::newRow("fifteen characters kept") << "abcdefghijklmno" << "ABCDEFGHIJKLMNO";
    QTest::newRow("long name cut to fifteen") << "quenmar-player-workstation" << "QUENMAR-PLAYER-";
    QTest::newRow("cut before the dot counts") << "averyveryverylongname.example" << "AVERYVERYVERYLO";
    QTest::newRow("digits and allowed signs kept") << "a1!@#$%^&')(-_{}`" << "A1!@#$%^&')(-_{";
    QTest::newRow("allowed signs, short") << "x!@#$%^&')(-_{}`" << "X!@#$%^&')(-_{}";
    QTest::newRow("odd characters replaced") << "my host+name~" << "MY_HOST_NAME_";
    QTest::newRow("letters beyond ASCII replaced") << QString::fromUtf8("caf\xc3\xa9") << "CAF_";
    QTest::newRow("upper case kept") << "GameBox" << "GAMEBOX";
    QTest::newRow("leading dot") << ".hidden" << "";
    QTest::newRow("empty") << "" << "";
}

void TestWineSystemInfo::computerNameFor()
{
    QFETCH(QString, hostName);
    QFETCH(QString, expected);
    QCOMPARE(WineSystemInfo::computerNameFor(hostName), expected);
}

void TestWineSystemInfo::computerName()
{
    // Whatever this machine is called, the name is one a Windows program accepts.
    const QString name = WineSystemInfo(WinePrefix(QStringLiteral("/nonexistent"))).computerName();
    QVERIFY(!name.isEmpty());
    QVERIFY(name.size() <= 15);
    static const QRegularExpression allowed(QStringLiteral("^[A-Z0-9!@#$%^&')(\\-_{}`]+$"));
    QVERIFY2(allowed.match(name).hasMatch(), qPrintable(name));
}

void TestWineSystemInfo::volumeSerial_data()
{
    QTest::addColumn<QString>("root");
    QTest::addColumn<bool>("withFile");
    QTest::addColumn<QByteArray>("serialFile");
    QTest::addColumn<bool>("known");
    QTest::addColumn<uint>("expected");

    QTest::newRow("no serial file") << "c:\\" << false << QByteArray() << true << 0x43000000u;
    QTest::newRow("serial file") << "c:\\" << true << QByteArray("1a2b3c4d") << true << 0x1a2b3c4du;
    QTest::newRow("serial file with a line end")
        << "C:\\" << true << QByteArray("1A2B3C4D\n") << true << 0x1a2b3c4du;
    QTest::newRow("drive without backslash") << "c:" << true << QByteArray("ff") << true << 0xffu;
    QTest::newRow("path below the root")
        << "c:\\Program Files\\" << true << QByteArray("1234") << true << 0x1234u;
    QTest::newRow("with 0x and blanks") << "c:\\" << true << QByteArray("  0x00c0ffee junk") << true
                                        << 0xc0ffeeu;
    QTest::newRow("no number") << "c:\\" << true << QByteArray("serial") << true << 0u;
    QTest::newRow("empty file") << "c:\\" << true << QByteArray() << true << 0u;
    QTest::newRow("missing drive") << "d:\\" << false << QByteArray() << false << 0u;
    QTest::newRow("missing drive, serial file on C:")
        << "q:\\" << true << QByteArray("1a2b3c4d") << false << 0u;
    QTest::newRow("not a drive") << "\\" << false << QByteArray() << false << 0u;
}

void TestWineSystemInfo::volumeSerial()
{
    QFETCH(QString, root);
    QFETCH(bool, withFile);
    QFETCH(QByteArray, serialFile);
    QFETCH(bool, known);
    QFETCH(uint, expected);

    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    if (withFile)
        QVERIFY(prefix.makeFile("drive_c/.windows-serial", serialFile));
    const std::optional<std::uint32_t> serial =
        WineSystemInfo(WinePrefix(prefix.dir())).volumeSerial(root);
    QCOMPARE(serial.has_value(), known);
    if (known)
        QCOMPARE(*serial, std::uint32_t(expected));
}

QTEST_GUILESS_MAIN(TestWineSystemInfo)
#include "tst_winesysteminfo.moc"
