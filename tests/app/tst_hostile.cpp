// The window against hostile inputs: settings files that are huge, binary, full of NUL bytes,
// one endless line or crafted to grow a value text; user.reg hives that are damaged or of an
// unknown version; the game's registry value in every type; cache folders that vanish or
// change while they are cleaned; and game servers that accept and never answer or reset at
// once. Whatever the input, the window opens, shows what it could read and stays usable.

#include "LoopbackServer.h"
#include "WindowFixture.h"
#include "tests/ResettingListener.h"

#include <QRandomGenerator>

using fixture::Prefix;
using fixture::Window;

namespace {

const QString Passed = QStringLiteral("passed");
const QString Failed = QStringLiteral("failed");

QByteArray ordinaryLines(qsizetype size)
{
    static const QByteArray lines = "# the player's notes\r\nFullScreen=off\r\nSkipIntro=ON\r\nLanguage=2\r\n"
                                    "unknown key=some value\r\n\r\nSound = OFF\r\n";
    QByteArray text;
    text.reserve(size + lines.size());
    while (text.size() < size)
        text += lines;
    return text;
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

// A game server on 127.0.0.1 that accepts and then stays silent, or resets each connection
// at once (its close sends RST instead of FIN).
class HostileServer final
{
public:
    enum class Mode { Silent, Reset };

    bool start(Mode mode)
    {
        using OnAccept = fixture::LoopbackServer::OnAccept;
        m_server.onAccepted = [this] { ++accepted; };
        return m_server.listen(QStringLiteral("127.0.0.1"), mode == Mode::Reset ? OnAccept::Reset : OnAccept::Keep);
    }

    QString port() const { return QString::number(m_server.port()); }

    bool allClosedByClient() const { return m_server.allClosedByClient(); }

    int accepted = 0;

private:
    fixture::LoopbackServer m_server;
};

} // namespace

Q_DECLARE_METATYPE(HostileServer::Mode)

class TestHostile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void settingsFiles_data();
    void settingsFiles();
    void valueGrownByRepeatedEquals_data();
    void valueGrownByRepeatedEquals();
    void damagedHives_data();
    void damagedHives();
    void directoryOfEveryType_data();
    void directoryOfEveryType();
    void folderChangesWhileCleaned_data();
    void folderChangesWhileCleaned();
    void hostileServer_data();
    void hostileServer();
    void resetBeforeClientLooks();
};

// ---------------------------------------------------------------------------------------
// Settings files

void TestHostile::settingsFiles_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");

    const QString defaultPort = QStringLiteral("8078");
    QTest::newRow("huge: 48 MB of ordinary lines, the server named last")
        << ordinaryLines(48 << 20) + "HOST=Game.Example\r\nPORT=7001\r\n" << "game.example" << "7001";
    QTest::newRow("huge: the server named first, 48 MB after it")
        << "HOST=first.example\r\nPORT=7002\r\n" + ordinaryLines(48 << 20) << "first.example" << "7002";
    QTest::newRow("binary: 4 MB of random bytes") << randomBytes(4 << 20, 1) << "" << defaultPort;
    QTest::newRow("binary: an executable's header, then the server")
        << QByteArray("MZ\x90\0\x03\0\0\0\x04\0\0\0\xff\xff\0\0", 16) + "\nHOST=x.example\nPORT=9\n" << "x.example"
        << "9";
    QTest::newRow("8 MB of NUL bytes") << QByteArray(8 << 20, '\0') << "" << defaultPort;
    QTest::newRow("NUL bytes around the lines")
        << QByteArray("\0\0\nHOST=nul.example\n\0PORT=5\n\0", 28) << "nul.example" << defaultPort;
    QTest::newRow("one endless line of 32 MB without a line end")
        << QByteArray(32 << 20, 'k') << "" << defaultPort;
    QTest::newRow("the server, then one endless line of 32 MB")
        << "HOST=line.example\nPORT=6\n" + QByteArray(32 << 20, 'k') << "line.example" << "6";
    QTest::newRow("an endless line of carriage returns") << QByteArray(8 << 20, '\r') << "" << defaultPort;
    QTest::newRow("a million empty lines, then the server")
        << QByteArray(1 << 20, '\n') + "HOST=late.example\nPORT=8\n" << "late.example" << "8";
}

void TestHostile::settingsFiles()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, host);
    QFETCH(QString, port);

    Prefix prefix;
    prefix.writeUserReg("\"Directory\"=\"c:\\\\Quenmar\"\n\"Version\"=\"7.4\"");
    prefix.makeInstallation(QStringLiteral("drive_c/Quenmar"), settings);
    settings.clear(); // the window reads its own copy
    Window window(prefix);
    TForm1 &form = window.show();

    QVERIFY(window.exceptions.isEmpty());
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    QCOMPARE(form.Label3->text(), QStringLiteral("c:\\Quenmar"));
    QCOMPARE(form.Label15->text(), host);
    QCOMPARE(form.Label17->text(), port);
}

// HOST followed by "=": every "=" matches the key again and adds the rest of the line to the
// value, so the value grows with the square of the line. Reading goes on past such lines
// as long as the values fit the fixed budget (16 MiB), far beyond what a real file needs,
// so the port after them still counts. (Reading used to stop once the values outgrew the
// file by a MiB: both files lost their port.)
void TestHostile::valueGrownByRepeatedEquals_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<qsizetype>("hostSize");

    const qsizetype count = 1450;
    QTest::newRow("1.5 KB: HOST and 1450 \"=\", then the port")
        << "HOST" + QByteArray(count, '=') + "\nPORT=5\n" << count * (count - 1) / 2;
    QTest::newRow("2 MB: 20 000 lines HOST==aaa..., then the port")
        << QByteArray("HOST==" + QByteArray(94, 'a') + "\n").repeated(20000) + "PORT=5\n" << qsizetype(189);
}

void TestHostile::valueGrownByRepeatedEquals()
{
    QFETCH(QByteArray, settings);
    QFETCH(qsizetype, hostSize);

    Prefix prefix;
    prefix.writeUserReg("\"Directory\"=\"c:\\\\Quenmar\"");
    prefix.makeInstallation(QStringLiteral("drive_c/Quenmar"), settings);
    Window window(prefix);
    TForm1 &form = window.show();

    QVERIFY(window.exceptions.isEmpty());
    const QString host = form.Label15->text();
    QCOMPARE(host.size(), hostSize);
    QVERIFY(host.startsWith(QLatin1Char('=')));
    QCOMPARE(form.Label17->text(), QStringLiteral("5"));
}

// ---------------------------------------------------------------------------------------
// user.reg

void TestHostile::damagedHives_data()
{
    QTest::addColumn<QByteArray>("hive");
    QTest::addColumn<QString>("found"); // "usual", "registry" or the error shown

    const QByteArray header = "WINE REGISTRY Version 2\n";
    const QByteArray key = "[Software\\\\QuenmarOnline] 1700000000\n";
    const QByteArray value = "\"Directory\"=\"c:\\\\Elsewhere\"\n";
    const QString usual = QStringLiteral("usual");
    const QString registry = QStringLiteral("registry");
    const QString noText = QStringLiteral("Invalid data type for 'Directory'");
    // Damage after the version line costs only the lines it touches, as under wineserver.
    // (These hives counted as missing as a whole before.)
    QTest::newRow("truncated inside the game's value: it stands without data")
        << header + key + "\"Directory\"=\"c:\\\\Else" << noText;
    QTest::newRow("truncated inside a continued byte list")
        << header + key + value + "\"Blob\"=hex:01,02,\\\n" << registry;
    QTest::newRow("malformed line after the game's key") << header + key + value + "Directory=c:\n" << registry;
    QTest::newRow("malformed lines in Wine's own key, before the game's")
        << header + "[Software\\\\Wine] 1\n\"Version\"=win10\njunk\n[Software\\\\Wine\\\\Broken\n\"x\"=hex:zz\n" + key
               + value
        << registry;
    QTest::newRow("the game's key line broken: its values belong to no key")
        << header + "[Software\\\\QuenmarOnline 1\n" + value << usual;
    QTest::newRow("NUL bytes after the game's key")
        << header + key + value + QByteArray(4096, '\0') << registry;
    // Only a first line other than the version line makes the file no hive.
    QTest::newRow("unknown newer version") << "WINE REGISTRY Version 3\n" + key + value << usual;
    QTest::newRow("unknown older version") << "WINE REGISTRY Version 1\n" + key + value << usual;
    QTest::newRow("no version line") << key + value << usual;
    QTest::newRow("binary") << randomBytes(64 * 1024, 2) << usual;
    QTest::newRow("NUL bytes") << QByteArray(4096, '\0') << usual;
    QTest::newRow("UTF-16 text") << QByteArray("\xff\xfeW\0I\0N\0E\0", 10) << usual;
    QTest::newRow("empty") << QByteArray("") << usual;
}

// A hive that is no hive counts as no game key: the usual folders are tried instead. One
// that is damaged further down gives what wineserver would give the game.
void TestHostile::damagedHives()
{
    QFETCH(QByteArray, hive);
    QFETCH(QString, found);

    Prefix prefix;
    Prefix::writeFile(prefix.path() + QStringLiteral("/user.reg"), hive);
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"), "HOST=usual.example\nPORT=3\n");
    prefix.makeInstallation(QStringLiteral("drive_c/Elsewhere"), "HOST=registered.example\nPORT=4\n");
    Window window(prefix);
    TForm1 &form = window.show();

    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    if (found == QLatin1String("usual")) {
        QVERIFY(window.exceptions.isEmpty());
        QCOMPARE(form.Label3->text(), QStringLiteral("c:\\QuenmarOnline"));
        QCOMPARE(form.Label15->text(), QStringLiteral("usual.example"));
        QCOMPARE(form.Label17->text(), QStringLiteral("3"));
    } else if (found == QLatin1String("registry")) {
        QVERIFY(window.exceptions.isEmpty());
        QCOMPARE(form.Label3->text(), QStringLiteral("c:\\Elsewhere"));
        QCOMPARE(form.Label15->text(), QStringLiteral("registered.example"));
        QCOMPARE(form.Label17->text(), QStringLiteral("4"));
    } else {
        QCOMPARE(window.exceptions, QStringList{found});
        QCOMPARE(form.Label3->text(), QStringLiteral("-"));
    }
}

// ---------------------------------------------------------------------------------------
// Registry values

void TestHostile::directoryOfEveryType_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("isText");

    QTest::newRow("text") << QByteArray("\"Directory\"=\"c:\\\\Quenmar\"") << true;
    QTest::newRow("expandable text") << QByteArray("\"Directory\"=str(2):\"c:\\\\Quenmar\"") << true;
    QTest::newRow("text as UTF-16 bytes")
        << QByteArray("\"Directory\"=hex(1):63,00,3a,00,5c,00,51,00,75,00,65,00,6e,00,6d,00,61,00,72,00,00,00")
        << true;
    QTest::newRow("multi-string") << QByteArray("\"Directory\"=str(7):\"c:\\\\Quenmar\\0\"") << false;
    QTest::newRow("number") << QByteArray("\"Directory\"=dword:00000001") << false;
    QTest::newRow("large number") << QByteArray("\"Directory\"=hex(b):01,00,00,00,00,00,00,00") << false;
    QTest::newRow("bytes") << QByteArray("\"Directory\"=hex:63,3a,5c") << false;
    QTest::newRow("no bytes") << QByteArray("\"Directory\"=hex:") << false;
    QTest::newRow("type of no meaning") << QByteArray("\"Directory\"=hex(12345678):00") << false;
    QTest::newRow("link type") << QByteArray("\"Directory\"=hex(6):00") << false;
}

// A text finds the installation; any other type is reported as the wrong type once, and the
// window opens on the installation page with nothing filled in.
void TestHostile::directoryOfEveryType()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, isText);

    Prefix prefix;
    prefix.writeUserReg(line + "\n\"Version\"=\"7.4\"");
    prefix.makeInstallation(QStringLiteral("drive_c/Quenmar"), "HOST=typed.example\nPORT=4\n");
    Window window(prefix);
    TForm1 &form = window.show();

    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    if (isText) {
        QVERIFY(window.exceptions.isEmpty());
        QCOMPARE(form.Label3->text(), QStringLiteral("c:\\Quenmar"));
        QCOMPARE(form.Label15->text(), QStringLiteral("typed.example"));
    } else {
        QCOMPARE(window.exceptions, QStringList{QStringLiteral("Invalid data type for 'Directory'")});
        QCOMPARE(form.Label3->text(), QStringLiteral("-"));
    }
}

// ---------------------------------------------------------------------------------------
// Cache folders that change while they are cleaned

void TestHostile::folderChangesWhileCleaned_data()
{
    QTest::addColumn<QString>("change");

    QTest::newRow("pub vanishes at the first deletion") << "remove pub";
    QTest::newRow("pub replaced by a file at the first deletion") << "pub becomes a file";
    QTest::newRow("pub replaced by a link to a folder outside") << "pub becomes a link";
    QTest::newRow("every other file vanishes before its turn") << "others vanish";
    QTest::newRow("new files appear at every deletion") << "files appear";
    QTest::newRow("a listed file becomes a folder before its turn") << "file becomes folder";
}

void TestHostile::folderChangesWhileCleaned()
{
    QFETCH(QString, change);
    if (change == QLatin1String("pub becomes a link") && !fixture::symbolicLinks())
        QSKIP("no symbolic links here");
    if ((change == QLatin1String("remove pub") || change == QLatin1String("pub becomes a file"))
        && !fixture::listedFolderCanGo())
        QSKIP("a folder being listed stays here");

    Prefix prefix;
    prefix.writeUserReg("\"Directory\"=\"c:\\\\Quenmar\"");
    const QString game = prefix.makeInstallation(QStringLiteral("drive_c/Quenmar"));
    const QString pub = game + QStringLiteral("/pub");
    for (int i = 0; i < 200; ++i)
        Prefix::writeFile(pub + QStringLiteral("/f%1.dat").arg(i), "x");
    const QString outside = prefix.makeFolder(QStringLiteral("outside"));
    Prefix::writeFile(outside + QStringLiteral("/keep.dat"), "keep");

    Window window(prefix);
    int deletions = 0;
    window.files.beforeDelete = [&](const QByteArray &name) {
        ++deletions;
        QDir dir(pub);
        if (change == QLatin1String("remove pub") && deletions == 1) {
            dir.removeRecursively();
        } else if (change == QLatin1String("pub becomes a file") && deletions == 1) {
            dir.removeRecursively();
            Prefix::writeFile(pub, "now a file");
        } else if (change == QLatin1String("pub becomes a link") && deletions == 1) {
            dir.removeRecursively();
            fixture::makeLink(QFile::encodeName(outside), QFile::encodeName(pub));
        } else if (change == QLatin1String("others vanish")) {
            const int number = name.mid(1, name.indexOf('.') - 1).toInt();
            QFile::remove(pub + QStringLiteral("/f%1.dat").arg(number + 1));
        } else if (change == QLatin1String("files appear")) {
            Prefix::writeFile(pub + QStringLiteral("/new%1.dat").arg(deletions), "new");
        } else if (change == QLatin1String("file becomes folder")) {
            const int number = name.mid(1, name.indexOf('.') - 1).toInt();
            const QString next = pub + QStringLiteral("/f%1.dat").arg(number + 1);
            if (QFile::remove(next))
                dir.mkdir(QFileInfo(next).fileName());
        }
    };
    TForm1 &form = window.show();
    form.ElPageControl1->setActivePageIndex(2);
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);

    QVERIFY(window.exceptions.isEmpty());
    const QStringList lines = form.Memo1->lines();
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.last(), QStringLiteral("all done, try play Quenmar to see if it worked :)"));
    // Every line names a file that was really there and is gone now.
    const QString named = QStringLiteral("removed c:\\Quenmar\\pub\\");
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        QVERIFY2(lines.at(i).startsWith(named), qPrintable(lines.at(i)));
        const QString name = lines.at(i).mid(named.size());
        QVERIFY2(!QFileInfo::exists(pub + QLatin1Char('/') + name), qPrintable(name));
    }
    // A folder swapped for a link leads nowhere the cleaner goes: it works on the names it
    // listed, and none of them is in the folder outside.
    QVERIFY(QFileInfo::exists(outside + QStringLiteral("/keep.dat")));
    QVERIFY(QFileInfo::exists(game + QStringLiteral("/quenmar.exe")));
    if (change == QLatin1String("remove pub") || change == QLatin1String("pub becomes a file")
        || change == QLatin1String("pub becomes a link"))
        QCOMPARE(lines.size(), 1); // the first deletion already found the folder gone
    if (change == QLatin1String("file becomes folder")) {
        // Folders are never deleted, whatever their name.
        const QStringList left = QDir(pub).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QVERIFY(!left.isEmpty());
        QCOMPARE(lines.size() - 1 + left.size(), 200);
    }
    if (change == QLatin1String("files appear"))
        QVERIFY(lines.size() - 1 >= 200);
}

// ---------------------------------------------------------------------------------------
// Game servers

void TestHostile::hostileServer_data()
{
    QTest::addColumn<HostileServer::Mode>("mode");

    QTest::newRow("accepts and never answers") << HostileServer::Mode::Silent;
    QTest::newRow("accepts and resets at once") << HostileServer::Mode::Reset;
}

// A silent server is a reachable port, and so is one that resets at once: its handshake
// completed, whatever the client saw first. Either way the test ends on time and the window
// closes what it opened and shows no error.
void TestHostile::hostileServer()
{
    QFETCH(HostileServer::Mode, mode);

    HostileServer server;
    QVERIFY(server.start(mode));
    Prefix prefix;
    prefix.writeUserReg("\"Directory\"=\"c:\\\\Quenmar\"");
    prefix.makeInstallation(QStringLiteral("drive_c/Quenmar"), "HOST=127.0.0.1\nPORT=" + server.port().toLatin1() + "\n");
    Window window(prefix);
    for (const QString &address : {QStringLiteral("127.0.0.1"), window.publicHosts.first()})
        window.echo.replies.insert(address, 1);
    TForm1 &form = window.show();
    form.ElPageControl1->setActivePageIndex(1);

    for (int tick = 0; tick < 40 && form.TestRunning; ++tick) {
        window.tick();
        QTest::qWait(mode == HostileServer::Mode::Reset && tick == 8 ? 200 : 5);
    }
    QVERIFY(!form.TestRunning);
    QVERIFY(window.exceptions.isEmpty());
    QVERIFY(!form.ClientSocket1->Active());
    QCOMPARE(server.accepted, 1);
    QCOMPARE(form.Label12->text(), Passed);
    if (mode == HostileServer::Mode::Silent) {
        QTRY_VERIFY(server.allClosedByClient());
    } else {
        // The client tried once: it does not hammer the server with new connections.
        QTest::qWait(300);
        QCOMPARE(server.accepted, 1);
    }
}

// The reset made to reach the client before it looks at its connection, run after run:
// the port passes every time, with the connection's own result text.
void TestHostile::resetBeforeClientLooks()
{
    ResettingListener server;
    QVERIFY(server.port() != 0);
    const QByteArray port = QByteArray::number(server.port());

    for (int run = 0; run < 10; ++run) {
        Prefix prefix;
        prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"), "HOST=127.0.0.1\nPORT=" + port + "\n");
        Window window(prefix);
        for (const QString &address : {QStringLiteral("127.0.0.1"), window.publicHosts.first()})
            window.echo.replies.insert(address, 1);
        TForm1 &form = window.show();
        form.ElPageControl1->setActivePageIndex(1);

        window.tick(9); // up to the connect step, which starts the lookup
        QCoreApplication::sendPostedEvents(); // the address: the connection starts
        QVERIFY(server.waitForReset());
        QTest::qWait(10); // the reset on its way through loopback
        for (int tick = 9; tick < 40 && form.TestRunning; ++tick) {
            QTest::qWait(5);
            window.tick();
        }
        QVERIFY(!form.TestRunning);
        QCOMPARE(form.Label12->text(), Passed);
        QCOMPARE(form.Label12->palette().color(QPalette::WindowText), QColor(0x00, 0x80, 0x00));
        QCOMPARE(form.Label13->text(),
                 QStringLiteral("There is nothing wrong with your connection! If you are having troubles it is "
                                "probably because the server is too busy/full at this moment.."));
        QVERIFY(!form.ClientSocket1->Active());
        QCOMPARE(window.exceptions, QStringList());
    }
    QCOMPARE(server.accepted(), 10);
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
