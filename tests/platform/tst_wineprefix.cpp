#include "platform/wine/WinePrefix.h"

#include "PrefixFixture.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

using qm::WinePrefix;

namespace {

// Restores an environment variable when the test ends, however it ends.
class EnvironmentGuard final
{
public:
    explicit EnvironmentGuard(const char *name)
        : m_name(name), m_was(qEnvironmentVariableIsSet(name)), m_value(qgetenv(name))
    {
    }
    ~EnvironmentGuard()
    {
        if (m_was)
            qputenv(m_name, m_value);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_was;
    QByteArray m_value;
};

} // namespace

class TestWinePrefix : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void defaultLocation_data();
    void defaultLocation();
    void toHostPath_data();
    void toHostPath();
    void relativePath_data();
    void relativePath();
    void toWindowsPath_data();
    void toWindowsPath();
    void hostFolder_data();
    void hostFolder();

private:
    PrefixFixture m_prefix;
    QString m_startFolder = QDir::currentPath();
};

void TestWinePrefix::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    // More drives, as a player may link them: D: inside drive C:'s folder, F: and G: on one
    // folder, H: leading nowhere; and a link on the host to a folder of drive D:.
    QVERIFY(m_prefix.makeFolder("drive_c/Games") && m_prefix.makeFolder("drive_c/Games/Quenmar")
            && m_prefix.makeFolder("drive_c/Shared"));
    QVERIFY(m_prefix.makeLink("../drive_c/Games", "dosdevices/d:")
            && m_prefix.makeLink("../drive_c/Shared", "dosdevices/g:")
            && m_prefix.makeLink("../drive_c/Shared", "dosdevices/f:")
            && m_prefix.makeLink("../nowhere", "dosdevices/h:")
            && m_prefix.makeLink("drive_c/Games", "games-link"));
}

void TestWinePrefix::cleanup()
{
    QDir::setCurrent(m_startFolder);
}

void TestWinePrefix::defaultLocation_data()
{
    QTest::addColumn<bool>("set");
    QTest::addColumn<QByteArray>("winePrefix");
    QTest::addColumn<QString>("expected");

    const QString home = qEnvironmentVariable("HOME");
    QTest::newRow("WINEPREFIX set") << true << QByteArray("/games/quenmar") << "/games/quenmar";
    QTest::newRow("WINEPREFIX empty") << true << QByteArray() << home + "/.wine";
    QTest::newRow("WINEPREFIX unset") << false << QByteArray() << home + "/.wine";
}

void TestWinePrefix::defaultLocation()
{
    QFETCH(bool, set);
    QFETCH(QByteArray, winePrefix);
    QFETCH(QString, expected);

    const EnvironmentGuard guard("WINEPREFIX");
    if (set)
        qputenv("WINEPREFIX", winePrefix);
    else
        qunsetenv("WINEPREFIX");
    QCOMPARE(WinePrefix::defaultLocation(), expected);
    QCOMPARE(WinePrefix().dir(), expected);
}

// In the rows, "{c}" stands for drive C:'s link, "{z}" for drive Z:'s, "{p}" for the prefix
// folder and "{p\}" for the prefix folder written with backslashes.
void TestWinePrefix::toHostPath_data()
{
    QTest::addColumn<QString>("windowsPath");
    QTest::addColumn<bool>("resolves");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray exe = "{c}/Program Files/QuenmarOnline/quenmar.exe";
    QTest::newRow("upper-case drive, backslashes")
        << "C:\\Program Files\\QuenmarOnline\\quenmar.exe" << true << exe;
    QTest::newRow("lower-case drive, slashes")
        << "c:/Program Files/QuenmarOnline/quenmar.exe" << true << exe;
    QTest::newRow("mixed separators")
        << "c:\\Program Files/QuenmarOnline\\quenmar.exe" << true << exe;
    QTest::newRow("components in another case")
        << "c:\\PROGRAM FILES\\quenmaronline\\Quenmar.EXE" << true << exe;
    QTest::newRow("doubled separators")
        << "c:\\\\Program Files\\\\QuenmarOnline\\\\quenmar.exe" << true << exe;
    QTest::newRow("trailing separator")
        << "c:\\Program Files\\QuenmarOnline\\" << true
        << QByteArray("{c}/Program Files/QuenmarOnline");
    QTest::newRow("dot components")
        << "c:\\.\\program files\\.\\quenmaronline\\quenmar.exe" << true << exe;
    QTest::newRow("dot-dot goes up")
        << "c:\\Program Files\\QuenmarOnline\\..\\..\\mixed" << true << QByteArray("{c}/Mixed");
    QTest::newRow("dot-dot stops at the drive root")
        << "c:\\..\\..\\Program Files" << true << QByteArray("{c}/Program Files");
    QTest::newRow("drive root") << "c:\\" << true << QByteArray("{c}");
    QTest::newRow("drive without separator") << "C:" << true << QByteArray("{c}");
    QTest::newRow("exact case wins") << "c:\\Mixed\\abc" << true << QByteArray("{c}/Mixed/abc");
    QTest::newRow("exact case wins, upper") << "c:\\Mixed\\ABC" << true << QByteArray("{c}/Mixed/ABC");
    QTest::newRow("first match in byte order")
        << "c:\\Mixed\\aBc" << true << QByteArray("{c}/Mixed/ABC");
    QTest::newRow("missing component kept as written")
        << "c:\\program files\\NoSuch\\deeper\\quenmar.exe" << true
        << QByteArray("{c}/Program Files/NoSuch/deeper/quenmar.exe");
    QTest::newRow("dot-dot out of a missing component")
        << "c:\\NoSuch\\..\\program files" << true << QByteArray("{c}/Program Files");
    QTest::newRow("non-UTF-8 name on disk")
        << QString::fromUtf8("c:\\bad\xef\xbf\xbd\\FILE.TXT") << true
        << QByteArray("{c}/Bad\xff/file.txt");
    QTest::newRow("missing drive") << "q:\\Program Files" << false << QByteArray();
    QTest::newRow("missing drive, root") << "Q:" << false << QByteArray();
    QTest::newRow("host path from the folder chooser")
        << "{p}/drive_c/program files\\quenmaronline\\quenmar.exe" << true
        << QByteArray("{p}/drive_c/Program Files/QuenmarOnline/quenmar.exe");
    QTest::newRow("host path with a leading backslash")
        << "{p\\}\\drive_c\\PROGRAM FILES" << true << QByteArray("{p}/drive_c/Program Files");
    QTest::newRow("host root") << "/" << true << QByteArray("/");
    QTest::newRow("dot-dot stops at the host root")
        << "/../..{p}/drive_c" << true << QByteArray("{p}/drive_c");
    QTest::newRow("drive Z: is the host root")
        << "z:{p\\}\\DRIVE_C\\mixed" << true << QByteArray("{z}{p}/drive_c/Mixed");
    QTest::newRow("NUL in the path") << QString::fromLatin1("c:\\Mixed\0x", 10) << false
                                     << QByteArray();
}

void TestWinePrefix::toHostPath()
{
    QFETCH(QString, windowsPath);
    QFETCH(bool, resolves);
    QFETCH(QByteArray, expected);

    const QByteArray host = m_prefix.host();
    QString backslashed = QString::fromUtf8(host);
    backslashed.replace(QLatin1Char('/'), QLatin1Char('\\'));
    windowsPath.replace(QStringLiteral("{p\\}"), backslashed);
    windowsPath.replace(QStringLiteral("{p}"), QString::fromUtf8(host));
    expected.replace("{c}", m_prefix.at("dosdevices/c:"));
    expected.replace("{z}", m_prefix.at("dosdevices/z:"));
    expected.replace("{p}", host);

    const std::optional<QByteArray> result = WinePrefix(m_prefix.dir()).toHostPath(windowsPath);
    QCOMPARE(result.has_value(), resolves);
    if (resolves)
        QCOMPARE(*result, expected);
}

void TestWinePrefix::relativePath_data()
{
    QTest::addColumn<QString>("windowsPath");
    QTest::addColumn<QByteArray>("expected"); // below the prefix folder

    QTest::newRow("name in the current folder")
        << "quenmar.exe" << QByteArray("/drive_c/Program Files/QuenmarOnline/quenmar.exe");
    QTest::newRow("name in another case")
        << "CONFIG\\Setup.ini" << QByteArray("/drive_c/Program Files/QuenmarOnline/config/setup.ini");
    QTest::newRow("dot-dot leaves the current folder")
        << "..\\..\\mixed" << QByteArray("/drive_c/Mixed");
    QTest::newRow("empty path is the current folder")
        << "" << QByteArray("/drive_c/Program Files/QuenmarOnline");
}

void TestWinePrefix::relativePath()
{
    QFETCH(QString, windowsPath);
    QFETCH(QByteArray, expected);

    QVERIFY(QDir::setCurrent(m_prefix.dir() + "/drive_c/Program Files/QuenmarOnline"));
    const QByteArray real = QFile::encodeName(QFileInfo(m_prefix.dir()).canonicalFilePath());
    const std::optional<QByteArray> result = WinePrefix(m_prefix.dir()).toHostPath(windowsPath);
    QVERIFY(result);
    QCOMPARE(*result, real + expected);
}

// In the rows, "{p}" stands for the prefix folder, "{p\\}" for it with backslashes.
void TestWinePrefix::toWindowsPath_data()
{
    QTest::addColumn<QString>("hostFolder");
    QTest::addColumn<bool>("withDrives"); // false: a prefix without drives
    QTest::addColumn<QString>("expected"); // null: no drive reaches it

    QTest::newRow("drive C:'s root") << "{p}/drive_c" << true << "C:\\";
    QTest::newRow("folder on drive C:")
        << "{p}/drive_c/Program Files/QuenmarOnline" << true << "C:\\Program Files\\QuenmarOnline";
    QTest::newRow("names kept in their case") << "{p}/drive_c/Mixed/ABC" << true << "C:\\Mixed\\ABC";
    QTest::newRow("through the drive's link") << "{p}/dosdevices/c:/Program Files" << true << "C:\\Program Files";
    QTest::newRow("dots and a trailing slash") << "{p}/drive_c/./Mixed/../Program Files/" << true
                                               << "C:\\Program Files";
    QTest::newRow("not there yet, below drive C:") << "{p}/drive_c/NoSuch/deeper" << true << "C:\\NoSuch\\deeper";
    QTest::newRow("drive D: inside drive C:: the nearer drive") << "{p}/drive_c/Games/Quenmar" << true
                                                                << "D:\\Quenmar";
    QTest::newRow("drive D:'s root") << "{p}/drive_c/Games" << true << "D:\\";
    QTest::newRow("two drives on one folder: the first letter") << "{p}/drive_c/Shared" << true << "F:\\";
    QTest::newRow("through a link elsewhere on the host") << "{p}/games-link/Quenmar" << true << "D:\\Quenmar";
    QTest::newRow("the prefix itself: drive Z:") << "{p}/dosdevices" << true << "Z:{p\\}\\dosdevices";
    QTest::newRow("host root: drive Z:") << "/" << true << "Z:\\";
    QTest::newRow("no drive reaches it") << "{p}/drive_c/Mixed" << false << QString();
    QTest::newRow("relative path") << "drive_c/Mixed" << true << QString();
    QTest::newRow("empty") << "" << true << QString();
    QTest::newRow("NUL in the path") << QString::fromLatin1("/tmp\0x", 6) << true << QString();
}

void TestWinePrefix::toWindowsPath()
{
    QFETCH(QString, hostFolder);
    QFETCH(bool, withDrives);
    QFETCH(QString, expected);

    const QString host = QString::fromUtf8(m_prefix.host());
    QString backslashed = host;
    backslashed.replace(QLatin1Char('/'), QLatin1Char('\\'));
    hostFolder.replace(QStringLiteral("{p}"), host);
    expected.replace(QStringLiteral("{p\\}"), backslashed);

    const WinePrefix prefix(withDrives ? m_prefix.dir() : m_prefix.dir() + QStringLiteral("/drive_c"));
    const std::optional<QString> result = prefix.toWindowsPath(hostFolder);
    QCOMPARE(result.has_value(), !expected.isNull());
    if (result)
        QCOMPARE(*result, expected);
}

// In the rows, "{r}" stands for the prefix folder with every link resolved.
void TestWinePrefix::hostFolder_data()
{
    QTest::addColumn<QString>("folderText");
    QTest::addColumn<bool>("withDrives"); // false: a prefix without drives
    QTest::addColumn<QString>("expected"); // null: the home folder

    QTest::newRow("drive C:") << "c:\\" << true << "{r}/drive_c";
    QTest::newRow("a folder in another case")
        << "C:\\PROGRAM FILES\\quenmaronline" << true << "{r}/drive_c/Program Files/QuenmarOnline";
    QTest::newRow("through drive D:, links resolved") << "d:\\quenmar" << true << "{r}/drive_c/Games/Quenmar";
    QTest::newRow("empty text: drive C:") << "" << true << "{r}/drive_c";
    QTest::newRow("missing folder: drive C:") << "c:\\NoSuch" << true << "{r}/drive_c";
    QTest::newRow("a file: drive C:") << "c:\\Program Files\\QuenmarOnline\\quenmar.exe" << true << "{r}/drive_c";
    QTest::newRow("missing drive: drive C:") << "q:\\" << true << "{r}/drive_c";
    QTest::newRow("dangling drive: drive C:") << "h:\\" << true << "{r}/drive_c";
    QTest::newRow("host path") << "{r}/drive_c/Mixed" << true << "{r}/drive_c/Mixed";
    QTest::newRow("no drive C:: the home folder") << "q:\\" << false << QString();
}

void TestWinePrefix::hostFolder()
{
    QFETCH(QString, folderText);
    QFETCH(bool, withDrives);
    QFETCH(QString, expected);

    const QString real = QFileInfo(m_prefix.dir()).canonicalFilePath();
    folderText.replace(QStringLiteral("{r}"), real);
    expected = expected.isNull() ? QDir::homePath() : expected.replace(QStringLiteral("{r}"), real);

    const WinePrefix prefix(withDrives ? m_prefix.dir() : m_prefix.dir() + QStringLiteral("/drive_c"));
    QCOMPARE(prefix.hostFolder(folderText), expected);
}

QTEST_GUILESS_MAIN(TestWinePrefix)
#include "tst_wineprefix.moc"
