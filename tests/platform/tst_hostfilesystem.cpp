#include "platform/wine/HostFileSystem.h"

#include "PrefixFixture.h"

#include <QProcess>
#include <QSet>
#include <QtTest>

#include <algorithm>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using qm::HostFileSystem;
using qm::WinePrefix;

class TestHostFileSystem : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void exists_data();
    void exists();
    void readWholeFile_data();
    void readWholeFile();
    void readUnreadableFile();
    void listFolder_data();
    void listFolder();
    void listMissingFolder();
    void deleteWhileListing();
    void deleteFile_data();
    void deleteFile();
    void refusedAsUnderWine_data();
    void refusedAsUnderWine();

private:
    PrefixFixture m_prefix;
    HostFileSystem m_files{WinePrefix(QString())};
};

void TestHostFileSystem::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    m_files = HostFileSystem(WinePrefix(m_prefix.dir()));
    QVERIFY(m_prefix.makeFolder("drive_c/game"));
    QVERIFY(m_prefix.makeFile("drive_c/game/empty.dat", QByteArray()));
    QVERIFY(m_prefix.makeFile("drive_c/game/binary.dat", QByteArray("\0\x01\xff\r\n\x1a end", 10)));
    QVERIFY(m_prefix.makeFile("drive_c/game/.hidden", "h"));
    QVERIFY(m_prefix.makeFolder("drive_c/game/sub"));
    QVERIFY(m_prefix.makeFile("drive_c/game/caf\xe9.map", "latin-1 name"));
    QVERIFY(m_prefix.makeLink("binary.dat", "drive_c/game/link.dat"));
    QVERIFY(m_prefix.makeLink("nowhere", "drive_c/game/dangling"));
    QVERIFY(m_prefix.makeLink("sub", "drive_c/game/sublink"));
}

void TestHostFileSystem::exists_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("expected");

    QTest::newRow("file") << "c:\\Program Files\\QuenmarOnline\\quenmar.exe" << true;
    QTest::newRow("file in another case") << "C:\\PROGRAM FILES\\QUENMARONLINE\\QUENMAR.EXE" << true;
    QTest::newRow("folder") << "c:\\Program Files\\QuenmarOnline" << true;
    QTest::newRow("drive root") << "c:\\" << true;
    QTest::newRow("folder with doubled separator")
        << "c:\\Program Files\\QuenmarOnline\\\\quenmar.exe" << true;
    QTest::newRow("missing file") << "c:\\Program Files\\QuenmarOnline\\setup.exe" << false;
    QTest::newRow("missing folder") << "d:\\Program Files\\QuenmarOnline" << false;
    QTest::newRow("link to a file") << "c:\\game\\link.dat" << true;
    QTest::newRow("link to a folder") << "c:\\game\\sublink" << true;
    QTest::newRow("dangling link") << "c:\\game\\dangling" << false;
    QTest::newRow("host path") << "{p}/drive_c\\game\\binary.dat" << true;
}

void TestHostFileSystem::exists()
{
    QFETCH(QString, path);
    QFETCH(bool, expected);
    path.replace(QStringLiteral("{p}"), m_prefix.dir());
    QCOMPARE(m_files.exists(path), expected);
}

void TestHostFileSystem::readWholeFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("text") << "c:\\program files\\quenmaronline\\config\\SETUP.INI" << true
                          << QByteArray("# Quenmar Online 7.4 beta\n");
    QTest::newRow("all bytes, NUL and ^Z included")
        << "c:\\game\\binary.dat" << true << QByteArray("\0\x01\xff\r\n\x1a end", 10);
    QTest::newRow("empty file") << "c:\\game\\empty.dat" << true << QByteArray();
    QTest::newRow("through a link") << "c:\\game\\link.dat" << true
                                    << QByteArray("\0\x01\xff\r\n\x1a end", 10);
    QTest::newRow("folder") << "c:\\game\\sub" << false << QByteArray();
    QTest::newRow("missing file") << "c:\\game\\none.dat" << false << QByteArray();
    QTest::newRow("missing drive") << "x:\\game\\binary.dat" << false << QByteArray();
}

void TestHostFileSystem::readWholeFile()
{
    QFETCH(QString, path);
    QFETCH(bool, readable);
    QFETCH(QByteArray, expected);

    std::string contents = "left over";
    QCOMPARE(m_files.readWholeFile(path, contents), readable);
    QCOMPARE(QByteArray::fromStdString(contents), expected);
}

void TestHostFileSystem::readUnreadableFile()
{
    if (::geteuid() == 0)
        QSKIP("the superuser reads every file");
    QVERIFY(m_prefix.makeFile("drive_c/game/locked.dat", "secret"));
    QVERIFY(::chmod(m_prefix.at("drive_c/game/locked.dat").constData(), 0) == 0);
    std::string contents = "left over";
    QVERIFY(!m_files.readWholeFile("c:\\game\\locked.dat", contents));
    QVERIFY(contents.empty());
    QVERIFY(m_files.exists("c:\\game\\locked.dat"));
}

void TestHostFileSystem::listFolder_data()
{
    QTest::addColumn<QString>("folder");

    QTest::newRow("as named") << "c:\\game";
    QTest::newRow("another case, trailing separator") << "C:\\GAME\\";
    QTest::newRow("host path") << "{p}/drive_c/game";
}

void TestHostFileSystem::listFolder()
{
    QFETCH(QString, folder);
    folder.replace(QStringLiteral("{p}"), m_prefix.dir());

    QList<QByteArray> names;
    QVERIFY(m_files.listFolder(folder, [&](const QByteArray &name) { names.append(name); }));
    QSet<QByteArray> unique(names.cbegin(), names.cend());
    QCOMPARE(unique.size(), names.size());
    const QSet<QByteArray> expected{".",          "..",      ".hidden",        "binary.dat",
                                    "empty.dat",  "sub",     "caf\xe9.map",    "link.dat",
                                    "dangling",   "sublink"};
    // Other cases may have added files of their own; these are always there.
    for (const QByteArray &name : expected)
        QVERIFY2(unique.contains(name), name.constData());
}

void TestHostFileSystem::listMissingFolder()
{
    int calls = 0;
    QVERIFY(!m_files.listFolder("c:\\nothing here", [&](const QByteArray &) { ++calls; }));
    QVERIFY(!m_files.listFolder("c:\\game\\binary.dat", [&](const QByteArray &) { ++calls; }));
    QVERIFY(!m_files.listFolder("y:\\", [&](const QByteArray &) { ++calls; }));
    QCOMPARE(calls, 0);
}

void TestHostFileSystem::deleteWhileListing()
{
    // The cache cleaner deletes each entry as the listing reports it.
    QVERIFY(m_prefix.makeFolder("drive_c/maps"));
    for (int i = 0; i < 300; ++i)
        QVERIFY(m_prefix.makeFile("drive_c/maps/map" + QByteArray::number(i) + ".dat", "m"));
    QVERIFY(m_prefix.makeFolder("drive_c/maps/keep"));

    int deleted = 0;
    QVERIFY(m_files.listFolder("c:\\maps", [&](const QByteArray &name) {
        if (m_files.deleteFile("c:\\maps", name))
            ++deleted;
    }));
    QCOMPARE(deleted, 300);

    QList<QByteArray> left;
    QVERIFY(m_files.listFolder("c:\\maps", [&](const QByteArray &name) { left.append(name); }));
    std::sort(left.begin(), left.end());
    QCOMPARE(left, (QList<QByteArray>{".", "..", "keep"}));
}

void TestHostFileSystem::deleteFile_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<QByteArray>("gone");     // below the prefix; empty when nothing goes
    QTest::addColumn<QByteArray>("survivor"); // below the prefix; must still stand

    QTest::newRow("file")
        << "c:\\del" << QByteArray("a.dat") << true << QByteArray("drive_c/del/a.dat")
        << QByteArray("drive_c/del/b.dat");
    QTest::newRow("folder named in another case")
        << "C:\\DEL" << QByteArray("b.dat") << true << QByteArray("drive_c/del/b.dat")
        << QByteArray("drive_c/del");
    QTest::newRow("non-UTF-8 name")
        << "c:\\del" << QByteArray("caf\xe9.map") << true << QByteArray("drive_c/del/caf\xe9.map")
        << QByteArray("drive_c/del");
    QTest::newRow("folder is not deleted")
        << "c:\\del" << QByteArray("sub") << false << QByteArray() << QByteArray("drive_c/del/sub");
    QTest::newRow("link to a file goes, the file stays")
        << "c:\\del" << QByteArray("filelink") << true << QByteArray("drive_c/del/filelink")
        << QByteArray("drive_c/del/target.dat");
    // Under Wine a link to a folder is a folder: it stays. (It used to be removed as a link.)
    QTest::newRow("link to a folder stays, as a folder")
        << "c:\\del" << QByteArray("folderlink") << false << QByteArray()
        << QByteArray("drive_c/del/folderlink/inner.dat");
    QTest::newRow("dangling link goes")
        << "c:\\del" << QByteArray("dangling") << true << QByteArray("drive_c/del/dangling")
        << QByteArray("drive_c/del");
    QTest::newRow("missing file")
        << "c:\\del" << QByteArray("none.dat") << false << QByteArray() << QByteArray("drive_c/del");
    QTest::newRow("name reaching elsewhere")
        << "c:\\del" << QByteArray("sub/inner.dat") << false << QByteArray()
        << QByteArray("drive_c/del/sub/inner.dat");
    QTest::newRow("missing drive")
        << "w:\\del" << QByteArray("target.dat") << false << QByteArray()
        << QByteArray("drive_c/del/target.dat");
}

void TestHostFileSystem::deleteFile()
{
    QFETCH(QString, folder);
    QFETCH(QByteArray, name);
    QFETCH(bool, deleted);
    QFETCH(QByteArray, gone);
    QFETCH(QByteArray, survivor);

    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    QVERIFY(prefix.makeFolder("drive_c/del"));
    QVERIFY(prefix.makeFolder("drive_c/del/sub"));
    QVERIFY(prefix.makeFile("drive_c/del/sub/inner.dat", "i"));
    QVERIFY(prefix.makeFile("drive_c/del/a.dat", "a"));
    QVERIFY(prefix.makeFile("drive_c/del/b.dat", "b"));
    QVERIFY(prefix.makeFile("drive_c/del/caf\xe9.map", "c"));
    QVERIFY(prefix.makeFile("drive_c/del/target.dat", "t"));
    QVERIFY(prefix.makeLink("target.dat", "drive_c/del/filelink"));
    QVERIFY(prefix.makeLink("sub", "drive_c/del/folderlink"));
    QVERIFY(prefix.makeLink("nowhere", "drive_c/del/dangling"));

    const HostFileSystem files{WinePrefix(prefix.dir())};
    QCOMPARE(files.deleteFile(folder, name), deleted);
    if (!gone.isEmpty())
        QVERIFY(!prefix.entryExists(gone));
    QVERIFY(prefix.entryExists(survivor));
}

namespace {

// Another program with a file open, for as long as this object lives.
class HeldOpen final
{
public:
    explicit HeldOpen(const QByteArray &path)
    {
        m_process.start(QStringLiteral("/bin/sh"),
                        {QStringLiteral("-c"), QStringLiteral("exec 3<\"$0\" && echo open && read line"),
                         QFile::decodeName(path)});
        m_open = m_process.waitForReadyRead(10000) && m_process.readAll() == "open\n";
    }
    ~HeldOpen()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }
    bool isOpen() const { return m_open; }

private:
    QProcess m_process;
    bool m_open = false;
};

// Whether this file system tells an open file by refusing a write lease on it.
bool leasesWork(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool taken = ::fcntl(fd, F_SETLEASE, F_WRLCK) == 0;
    ::close(fd);
    return taken;
}

} // namespace

// What Windows refuses to delete stays. Read-only is told from the mode bits, as Wine tells
// it, so these rows hold for root too, whom the system itself would let delete anything.
// (Each of these files used to be deleted.)
void TestHostFileSystem::refusedAsUnderWine_data()
{
    QTest::addColumn<QByteArray>("name"); // in c:\del
    QTest::addColumn<int>("mode");        // of the file (or of a link's target)
    QTest::addColumn<QString>("how");     // "file", "held open", "link to it"
    QTest::addColumn<bool>("deleted");

    QTest::newRow("no write permission: read-only") << QByteArray("ro.dat") << 0444 << "file" << false;
    QTest::newRow("no access at all") << QByteArray("none.dat") << 0000 << "file" << false;
    QTest::newRow("only its owner may write") << QByteArray("w.dat") << 0200 << "file" << true;
    QTest::newRow("only its group may write") << QByteArray("g.dat") << 0464 << "file" << true;
    QTest::newRow("only others may write") << QByteArray("o.dat") << 0446 << "file" << true;
    QTest::newRow("another program has it open") << QByteArray("open.dat") << 0644 << "held open" << false;
    QTest::newRow("a link to a read-only file") << QByteArray("rolink") << 0444 << "link to it" << false;
    QTest::newRow("a link to a file another program has open")
        << QByteArray("openlink") << 0644 << "link to it, held open" << false;
}

void TestHostFileSystem::refusedAsUnderWine()
{
    QFETCH(QByteArray, name);
    QFETCH(int, mode);
    QFETCH(QString, how);
    QFETCH(bool, deleted);

    PrefixFixture prefix;
    QVERIFY(prefix.isValid());
    QVERIFY(prefix.makeFolder("drive_c/del"));
    QVERIFY(prefix.makeFolder("drive_c/elsewhere"));
    const bool viaLink = how.startsWith(QLatin1String("link"));
    const QByteArray file = viaLink ? QByteArray("drive_c/elsewhere/target.dat") : "drive_c/del/" + name;
    QVERIFY(prefix.makeFile(file, "data"));
    if (how.contains(QLatin1String("held open")) && !leasesWork(prefix.at(file)))
        QSKIP("this file system takes no leases: Linux cannot tell a file in use here");
    QVERIFY(::chmod(prefix.at(file).constData(), mode_t(mode)) == 0);
    if (viaLink)
        QVERIFY(prefix.makeLink("../elsewhere/target.dat", "drive_c/del/" + name));
    std::optional<HeldOpen> holder;
    if (how.contains(QLatin1String("held open"))) {
        holder.emplace(prefix.at(file));
        QVERIFY(holder->isOpen());
    }

    const HostFileSystem files{WinePrefix(prefix.dir())};
    QCOMPARE(files.deleteFile("c:\\del", name), deleted);
    QCOMPARE(prefix.entryExists("drive_c/del/" + name), !deleted);
    if (viaLink)
        QVERIFY(prefix.entryExists(file)); // what a link names always stays
    // Through an open listing, as the cleaner deletes, the answer is the same.
    if (!deleted) {
        bool listed = false;
        QVERIFY(files.listFolder("c:\\del", [&](const QByteArray &entry) {
            if (entry == name) {
                listed = true;
                QVERIFY(!files.deleteFile("c:\\del", entry));
            }
        }));
        QVERIFY(listed);
        QVERIFY(prefix.entryExists("drive_c/del/" + name));
    }
    // Once the other program closed it, the file goes.
    if (holder && !viaLink) {
        holder.reset();
        QVERIFY(files.deleteFile("c:\\del", name));
    }
}

QTEST_GUILESS_MAIN(TestHostFileSystem)
#include "tst_hostfilesystem.moc"
