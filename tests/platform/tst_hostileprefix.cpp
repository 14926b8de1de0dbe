// The Wine prefix layer against hostile prefixes: drive links that loop or lead nowhere,
// paths of absurd length, and the files the program reads (the settings file, user.reg,
// the drive's serial) replaced by a pipe nobody writes to, an endless device or a link to
// itself. Every read must come back, with nothing, instead of hanging the window.

#include "platform/wine/HostFileSystem.h"
#include "platform/wine/WinePrefix.h"
#include "platform/wine/WineRegistry.h"
#include "platform/wine/WineSystemInfo.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <functional>
#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A prefix with drive C: and an installation whose files the rows replace.
class HostilePrefix final
{
public:
    HostilePrefix()
    {
        QDir root(path());
        root.mkpath(QStringLiteral("dosdevices"));
        root.mkpath(QStringLiteral("drive_c/Game/config"));
        QFile::link(QStringLiteral("../drive_c"), path() + QStringLiteral("/dosdevices/c:"));
    }

    QString path() const { return m_dir.path(); }
    QByteArray host(const char *relative) const { return QFile::encodeName(path()) + '/' + relative; }

private:
    QTemporaryDir m_dir;
};

// Replaces `target` by the hostile kind of entry named.
bool plant(const QByteArray &target, const QString &kind)
{
    ::unlink(target.constData());
    if (kind == QLatin1String("pipe without writer"))
        return ::mkfifo(target.constData(), 0644) == 0;
    if (kind == QLatin1String("endless device"))
        return ::symlink("/dev/zero", target.constData()) == 0;
    if (kind == QLatin1String("link to itself"))
        return ::symlink(target.constData(), target.constData()) == 0;
    if (kind == QLatin1String("dangling link"))
        return ::symlink("nowhere", target.constData()) == 0;
    if (kind == QLatin1String("folder"))
        return ::mkdir(target.constData(), 0755) == 0;
    return false;
}

// Runs `read` on a thread of its own. When it has not come back within a generous time, the
// pipe it is stuck on gets a writer, so that the test fails instead of hanging.
bool cameBack(const std::function<void()> &read, const QByteArray &pipe)
{
    std::future<void> done = std::async(std::launch::async, read);
    if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready)
        return true;
    const int writer = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0)
        ::close(writer);
    done.wait();
    return false;
}

} // namespace

class TestHostilePrefix : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostileDrives_data();
    void hostileDrives();
    void absurdPaths_data();
    void absurdPaths();
    void settingsFileReplaced_data();
    void settingsFileReplaced();
    void hiveReplaced_data();
    void hiveReplaced();
    void serialReplaced_data();
    void serialReplaced();
    void fileLargerThanItsSize();
};

void TestHostilePrefix::hostileDrives_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("resolves");
    QTest::newRow("drive link to itself") << "link to itself" << false;
    QTest::newRow("drive link to nothing") << "dangling link" << false;
    // The drive exists, but nothing can lie below it.
    QTest::newRow("drive is a pipe") << "pipe without writer" << true;
}

// A drive that cannot be entered is a missing drive, or one where nothing exists.
void TestHostilePrefix::hostileDrives()
{
    QFETCH(QString, kind);
    QFETCH(bool, resolves);
    HostilePrefix prefix;
    QVERIFY(plant(prefix.host("dosdevices/d:"), kind));
    const qm::WinePrefix wine(prefix.path());
    QCOMPARE(wine.toHostPath(QStringLiteral("d:\\Game\\config\\setup.ini")).has_value(), resolves);
    const qm::HostFileSystem files(wine);
    QVERIFY(!files.exists(QStringLiteral("d:\\Game")));
    std::string contents;
    bool read = true;
    QVERIFY(cameBack([&] { read = files.readWholeFile(QStringLiteral("d:\\setup.ini"), contents); },
                     prefix.host("dosdevices/d:")));
    QVERIFY(!read);
}

void TestHostilePrefix::absurdPaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("expected"); // below drive C:

    const QString many = QStringLiteral("\\a").repeated(20000);
    QTest::newRow("20000 missing components") << QStringLiteral("c:") + many << QByteArray("/a").repeated(20000);
    QTest::newRow("20000 components of dot-dot") << QStringLiteral("c:") + QStringLiteral("\\..").repeated(20000)
                                                  << QByteArray();
    QTest::newRow("20000 separators") << QStringLiteral("c:") + QString(20000, QLatin1Char('\\')) + QStringLiteral("Game")
                                      << QByteArray("/Game");
    QTest::newRow("component longer than any name may be")
        << QStringLiteral("c:\\") + QString(5000, QLatin1Char('x')) << '/' + QByteArray(5000, 'x');
    QTest::newRow("lone surrogate in a component")
        << QStringLiteral("c:\\Game\\") + QChar(char16_t(0xD800)) << QByteArray("/Game/") + QString(QChar(char16_t(0xD800))).toUtf8();
    QTest::newRow("a link in a loop on the way")
        << QStringLiteral("c:\\loop\\x") << QByteArray("/loop/x");
}

// Absurd paths resolve to what they name, in time proportional to their length: nothing
// below the first missing component is looked up.
void TestHostilePrefix::absurdPaths()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, expected);
    HostilePrefix prefix;
    QVERIFY(plant(prefix.host("drive_c/loop"), QStringLiteral("link to itself")));
    const qm::WinePrefix wine(prefix.path());
    const auto host = wine.toHostPath(path);
    QVERIFY(host);
    QCOMPARE(*host, prefix.host("dosdevices/c:") + expected);
}

void TestHostilePrefix::settingsFileReplaced_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("pipe without writer") << "pipe without writer";
    QTest::newRow("link to an endless device") << "endless device";
    QTest::newRow("link to itself") << "link to itself";
    QTest::newRow("dangling link") << "dangling link";
    QTest::newRow("folder") << "folder";
}

void TestHostilePrefix::settingsFileReplaced()
{
    QFETCH(QString, kind);
    HostilePrefix prefix;
    const QByteArray target = prefix.host("drive_c/Game/config/setup.ini");
    QVERIFY(plant(target, kind));
    const qm::HostFileSystem files{qm::WinePrefix(prefix.path())};
    bool read = true;
    std::string contents = "stale";
    QVERIFY(cameBack([&] { read = files.readWholeFile(QStringLiteral("c:\\Game\\config\\setup.ini"), contents); },
                     target));
    QVERIFY(!read);
    QVERIFY(contents.empty());
}

void TestHostilePrefix::hiveReplaced_data()
{
    settingsFileReplaced_data();
}

// A hive that cannot be read as a file is no hive: no key opens.
void TestHostilePrefix::hiveReplaced()
{
    QFETCH(QString, kind);
    HostilePrefix prefix;
    const QByteArray target = prefix.host("user.reg");
    QVERIFY(plant(target, kind));
    qm::WineRegistry registry{qm::WinePrefix(prefix.path())};
    bool opened = true;
    QVERIFY(cameBack([&] { opened = registry.openKey(QStringLiteral("Software\\QuenmarOnline")) != nullptr; },
                     target));
    QVERIFY(!opened);
}

void TestHostilePrefix::serialReplaced_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<std::uint32_t>("expected");
    // Only a regular file holds a serial.
    QTest::newRow("pipe without writer") << "pipe without writer" << 0x43000000u;
    QTest::newRow("link to an endless device") << "endless device" << 0x43000000u;
    QTest::newRow("link to itself") << "link to itself" << 0x43000000u;
    QTest::newRow("dangling link") << "dangling link" << 0x43000000u;
    QTest::newRow("folder") << "folder" << 0x43000000u;
}

// A serial file that cannot be opened leaves the drive with Wine's default serial.
void TestHostilePrefix::serialReplaced()
{
    QFETCH(QString, kind);
    QFETCH(std::uint32_t, expected);
    HostilePrefix prefix;
    const QByteArray target = prefix.host("drive_c/.windows-serial");
    QVERIFY(plant(target, kind));
    const qm::WineSystemInfo system{qm::WinePrefix(prefix.path())};
    std::optional<std::uint32_t> serial;
    QVERIFY(cameBack([&] { serial = system.volumeSerial(QStringLiteral("c:\\")); }, target));
    QCOMPARE(serial, std::optional<std::uint32_t>(expected));
}

// A file that reports no size at all, as those of /proc do, still reads whole: reading goes
// on past the reported size to the end.
void TestHostilePrefix::fileLargerThanItsSize()
{
    const qm::HostFileSystem files{qm::WinePrefix(QStringLiteral("/nonexistent-prefix"))};
    std::string contents;
    QVERIFY(files.readWholeFile(QStringLiteral("/proc/self/status"), contents));
    QVERIFY(contents.find("\nPid:") != std::string::npos);
    QVERIFY(contents.compare(0, 5, "Name:") == 0);
    QCOMPARE(contents.back(), '\n');
}

QTEST_GUILESS_MAIN(TestHostilePrefix)
#include "tst_hostileprefix.moc"
