// The Windows backends against the system's real implementation (run under Wine by the
// Windows test command, in a prefix of its own).
#include "platform/ClientSocket.h"
#include "platform/Exceptions.h"
#include "platform/windows/WindowsEcho.h"
#include "platform/windows/WindowsFileSystem.h"
#include "platform/windows/WindowsRegistry.h"
#include "platform/windows/WindowsShell.h"
#include "platform/windows/WindowsSystemInfo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <vector>

using namespace qm;

namespace {

const wchar_t *wide(const QString &text)
{
    return reinterpret_cast<const wchar_t *>(text.utf16());
}

// A key of this test's own below HKEY_CURRENT_USER, removed afterwards.
const QString TestKey = QStringLiteral("Software\\QuenmarHelpCentreTest");

void setValue(const QString &name, DWORD type, const QByteArray &data)
{
    HKEY key = nullptr;
    QCOMPARE(::RegCreateKeyExW(HKEY_CURRENT_USER, wide(TestKey), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                               nullptr),
             LONG(ERROR_SUCCESS));
    QCOMPARE(::RegSetValueExW(key, wide(name), 0, type, reinterpret_cast<const BYTE *>(data.constData()),
                              DWORD(data.size())),
             LONG(ERROR_SUCCESS));
    ::RegCloseKey(key);
}

QByteArray utf16(const QString &text, bool terminated = true)
{
    QByteArray bytes(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    if (terminated)
        bytes.append(2, '\0');
    return bytes;
}

QString native(const QString &path)
{
    return QDir::toNativeSeparators(path);
}

// A listener on 127.0.0.1 made with the socket library itself.
class Listener final
{
public:
    Listener()
    {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
        m_socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_socket, 8);
        int length = sizeof address;
        ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~Listener()
    {
        for (SOCKET peer : m_peers)
            ::closesocket(peer);
        close();
    }

    int port() const { return m_port; }
    void close()
    {
        if (m_socket != INVALID_SOCKET)
            ::closesocket(std::exchange(m_socket, INVALID_SOCKET));
    }

    // The connection waiting to be accepted, if one does within `waitMs`.
    SOCKET accept(int waitMs = 5000)
    {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(m_socket, &ready);
        timeval timeout{waitMs / 1000, (waitMs % 1000) * 1000};
        if (::select(0, &ready, nullptr, nullptr, &timeout) != 1)
            return INVALID_SOCKET;
        const SOCKET peer = ::accept(m_socket, nullptr, nullptr);
        m_peers.push_back(peer);
        return peer;
    }

    // Ends the connection with a reset instead of a close.
    static void reset(SOCKET peer)
    {
        const linger hard{1, 0};
        ::setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof hard);
        ::closesocket(peer);
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
    int m_port = 0;
    std::vector<SOCKET> m_peers;
};

struct Events
{
    int connects = 0;
    int disconnects = 0;
    int errors = 0;
    int lastErrorCode = 0;
};

void attach(TClientSocket &socket, Events &events)
{
    socket.OnConnect = [&events] { ++events.connects; };
    socket.OnDisconnect = [&events] { ++events.disconnects; };
    socket.OnError = [&events](int &code) {
        ++events.errors;
        events.lastErrorCode = code;
        code = 0;
    };
}

} // namespace

class WindowsBackendsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void keyCreatedWhenMissing();
    void readString_data();
    void readString();
    void subkeysInEnumerationOrder();

    void listingShowsEveryEntry();
    void deleteFile_data();
    void deleteFile();
    void readWholeFile();

    void echoToLoopback();
    void echoWithoutReply();

    void clientConnectsAndSeesClose_data();
    void clientConnectsAndSeesClose();
    void clientRefused();

    void systemFacts();
    void shellOpensMaximised();

private:
    QStringList m_exceptions;
    ExceptionDisplay m_previous;
};

void WindowsBackendsTest::initTestCase()
{
    ::RegDeleteTreeW(HKEY_CURRENT_USER, wide(TestKey));
    m_previous = setExceptionDisplay([this](const QString &message) { m_exceptions.append(message); });
}

void WindowsBackendsTest::cleanupTestCase()
{
    ::RegDeleteTreeW(HKEY_CURRENT_USER, wide(TestKey));
    setExceptionDisplay(m_previous);
}

void WindowsBackendsTest::keyCreatedWhenMissing()
{
    const QString path = TestKey + QStringLiteral("\\Created");
    HKEY probe = nullptr;
    QCOMPARE(::RegOpenKeyExW(HKEY_CURRENT_USER, wide(path), 0, KEY_READ, &probe), LONG(ERROR_FILE_NOT_FOUND));

    WindowsRegistry registry;
    const auto key = registry.openKey(QLatin1Char('\\') + path);
    QVERIFY(key);
    QCOMPARE(key->readString(QStringLiteral("Directory")), QString());
    QVERIFY(key->subkeyNames().isEmpty());

    // Created, empty, for good.
    QCOMPARE(::RegOpenKeyExW(HKEY_CURRENT_USER, wide(path), 0, KEY_READ, &probe), LONG(ERROR_SUCCESS));
    DWORD values = 99;
    ::RegQueryInfoKeyW(probe, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr);
    ::RegCloseKey(probe);
    QCOMPARE(values, DWORD(0));
}

void WindowsBackendsTest::readString_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected"); // null: "Invalid data type"

    const QString folder = QStringLiteral("C:\\Program Files\\QuenmarOnline");
    QTest::newRow("text") << "Directory" << int(REG_SZ) << utf16(folder) << folder;
    QTest::newRow("expandable text, as stored") << "Last" << int(REG_EXPAND_SZ) << utf16("%USERPROFILE%\\q")
                                                << QStringLiteral("%USERPROFILE%\\q");
    QTest::newRow("text ends at its first NUL") << "Cut" << int(REG_SZ) << utf16(QStringLiteral("7.4")) + utf16("beta")
                                                << QStringLiteral("7.4");
    QTest::newRow("text stored without NUL") << "Bare" << int(REG_SZ) << utf16("7.4 beta", false)
                                             << QStringLiteral("7.4 beta");
    QTest::newRow("empty text") << "Empty" << int(REG_SZ) << QByteArray(2, '\0') << QStringLiteral("");
    QTest::newRow("long text") << "Long" << int(REG_SZ) << utf16(QString(3000, QLatin1Char('q')))
                               << QString(3000, QLatin1Char('q'));
    QTest::newRow("not there") << "Missing" << -1 << QByteArray() << QStringLiteral("");
    QTest::newRow("number") << "Launches" << int(REG_DWORD) << QByteArray("\x2a\0\0\0", 4) << QString();
    QTest::newRow("64-bit number") << "Big" << int(REG_QWORD) << QByteArray(8, '\1') << QString();
    QTest::newRow("bytes") << "Blob" << int(REG_BINARY) << QByteArray("\x01\x02") << QString();
    QTest::newRow("multi-string") << "Servers" << int(REG_MULTI_SZ) << utf16("main") + utf16("") << QString();
    QTest::newRow("no type") << "None" << int(REG_NONE) << QByteArray() << QString();
}

void WindowsBackendsTest::readString()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    if (type >= 0)
        setValue(name, DWORD(type), data);

    WindowsRegistry registry;
    const auto key = registry.openKey(TestKey);
    QVERIFY(key);
    if (expected.isNull()) {
        try {
            key->readString(name);
            QFAIL("no error raised");
        } catch (const RegistryError &e) {
            QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("Invalid data type for '%1'").arg(name));
        }
    } else {
        QCOMPARE(key->readString(name), expected);
        QCOMPARE(key->readString(name.toUpper()), expected); // names compare case-insensitively
    }
}

void WindowsBackendsTest::subkeysInEnumerationOrder()
{
    WindowsRegistry registry;
    const QString parent = TestKey + QStringLiteral("\\Accounts");
    for (const QString &name : {QStringLiteral("alice"), QStringLiteral("Bob the Brave"), QString::fromUtf8("Zoë")})
        QVERIFY(registry.openKey(parent + QLatin1Char('\\') + name));
    QVERIFY(registry.openKey(parent + QStringLiteral("\\alice\\characters")));

    QStringList enumerated;
    HKEY key = nullptr;
    QCOMPARE(::RegOpenKeyExW(HKEY_CURRENT_USER, wide(parent), 0, KEY_READ, &key), LONG(ERROR_SUCCESS));
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        enumerated.append(QString::fromWCharArray(name, int(length)));
    }
    ::RegCloseKey(key);

    const auto opened = registry.openKey(parent);
    QVERIFY(opened);
    QCOMPARE(opened->subkeyNames(), enumerated);
    QCOMPARE(QSet<QString>(enumerated.begin(), enumerated.end()),
             (QSet<QString>{QStringLiteral("alice"), QStringLiteral("Bob the Brave"), QString::fromUtf8("Zoë")}));
}

void WindowsBackendsTest::listingShowsEveryEntry()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString &name : {QStringLiteral("a.qmf"), QStringLiteral("hidden.dat"), QString::fromUtf8("Zoë.qmf")}) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    ::SetFileAttributesW(wide(native(dir.filePath(QStringLiteral("hidden.dat")))), FILE_ATTRIBUTE_HIDDEN);

    WindowsFileSystem files;
    QStringList names;
    QVERIFY(files.listFolder(native(dir.path()), [&](const QByteArray &name) { names.append(QString::fromUtf8(name)); }));
    QStringList expected{QStringLiteral("."), QStringLiteral(".."), QStringLiteral("a.qmf"),
                         QStringLiteral("hidden.dat"), QStringLiteral("sub"), QString::fromUtf8("Zoë.qmf")};
    names.sort();
    expected.sort();
    QCOMPARE(names, expected);
    QVERIFY(!files.listFolder(native(dir.filePath(QStringLiteral("missing"))), [](const QByteArray &) {}));
    QVERIFY(files.exists(native(dir.filePath(QStringLiteral("sub")))));
    QVERIFY(files.exists(native(dir.filePath(QStringLiteral("a.qmf")))));
    QVERIFY(!files.exists(native(dir.filePath(QStringLiteral("b.qmf")))));
}

void WindowsBackendsTest::deleteFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("attributes");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("deleted");

    QTest::newRow("plain file") << "a.qmf" << int(FILE_ATTRIBUTE_NORMAL) << false << true;
    QTest::newRow("hidden file") << "h.qmf" << int(FILE_ATTRIBUTE_HIDDEN) << false << true;
    QTest::newRow("name outside ASCII") << QString::fromUtf8("Zoë.qmf") << int(FILE_ATTRIBUTE_NORMAL) << false << true;
    QTest::newRow("read-only file refused") << "r.qmf" << int(FILE_ATTRIBUTE_READONLY) << false << false;
    QTest::newRow("folder never deleted") << "sub" << int(FILE_ATTRIBUTE_NORMAL) << true << false;
}

void WindowsBackendsTest::deleteFile()
{
    QFETCH(QString, name);
    QFETCH(int, attributes);
    QFETCH(bool, folder);
    QFETCH(bool, deleted);

    QTemporaryDir dir;
    const QString path = native(dir.filePath(name));
    if (folder) {
        QVERIFY(QDir(dir.path()).mkdir(name));
    } else {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(::SetFileAttributesW(wide(path), DWORD(attributes)));
    }

    WindowsFileSystem files;
    QCOMPARE(files.deleteFile(native(dir.path()), name.toUtf8()), deleted);
    QCOMPARE(files.exists(path), !deleted);
    ::SetFileAttributesW(wide(path), FILE_ATTRIBUTE_NORMAL);
}

void WindowsBackendsTest::readWholeFile()
{
    QTemporaryDir dir;
    QByteArray contents("HOST=game.example.test\r\nPORT=8078\r\n");
    contents.append('\0').append("after a NUL\x80\xff");
    QFile file(dir.filePath(QStringLiteral("setup.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
    file.close();

    WindowsFileSystem files;
    std::string read = "stale";
    QVERIFY(files.readWholeFile(native(file.fileName()), read));
    QCOMPARE(QByteArray::fromStdString(read), contents);
    QVERIFY(!files.readWholeFile(native(dir.path()), read));
    QVERIFY(read.empty());
    QVERIFY(!files.readWholeFile(native(dir.filePath(QStringLiteral("missing.ini"))), read));
}

void WindowsBackendsTest::echoToLoopback()
{
    WindowsEcho echo;
    QCOMPARE(echo.echo({QStringLiteral("127.0.0.1"), 56, 2000, 64, 0}), 1);
    QCOMPARE(echo.echo({QStringLiteral("127.0.0.1"), 32, 2000, 128, 2}), 1);
}

void WindowsBackendsTest::echoWithoutReply()
{
    WindowsEcho echo;
    // Names that can never resolve are not asked of anyone and get no reply.
    QCOMPARE(echo.echo({QStringLiteral("nothing.invalid"), 56, 500, 64, 0}), 0);
    QCOMPARE(echo.echo({QString(), 56, 500, 64, 0}), 0);
}

void WindowsBackendsTest::clientConnectsAndSeesClose_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("server closes") << false;
    QTest::newRow("server resets") << true;
}

void WindowsBackendsTest::clientConnectsAndSeesClose()
{
    QFETCH(bool, reset);
    Listener listener;
    TClientSocket socket;
    Events events;
    attach(socket, events);
    socket.Host = QStringLiteral("127.0.0.1");
    socket.Port = listener.port();
    socket.setActive(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.connects, 1, 10000);
    QVERIFY(socket.Active());

    const SOCKET peer = listener.accept();
    QVERIFY(peer != INVALID_SOCKET);
    if (reset)
        Listener::reset(peer);
    else
        ::shutdown(peer, SD_BOTH);
    QTRY_COMPARE_WITH_TIMEOUT(events.disconnects, 1, 10000);
    QVERIFY(!socket.Active());
    QCOMPARE(events.errors, 0);
    QVERIFY(m_exceptions.isEmpty());
}

void WindowsBackendsTest::clientRefused()
{
    Listener listener;
    const int port = listener.port();
    listener.close();

    TClientSocket socket;
    Events events;
    attach(socket, events);
    socket.Host = QStringLiteral("127.0.0.1");
    socket.Port = port;
    socket.setActive(true);
    QTRY_COMPARE_WITH_TIMEOUT(events.errors, 1, 10000);
    QCOMPARE(events.lastErrorCode, 10061);
    QCOMPARE(events.connects, 0);
    QVERIFY(!socket.Active());
}

void WindowsBackendsTest::systemFacts()
{
    WindowsSystemInfo system;
    const QString name = system.computerName();
    QVERIFY(!name.isEmpty());
    QVERIFY(name.size() <= 15);
    const QString expectedName = qEnvironmentVariable("QM_EXPECTED_COMPUTERNAME");
    if (!expectedName.isEmpty())
        QCOMPARE(name, expectedName);

    const auto serial = system.volumeSerial(QStringLiteral("c:\\"));
    QVERIFY(serial);
    bool given = false;
    const uint expected = qEnvironmentVariable("QM_EXPECTED_SERIAL").toUInt(&given, 16);
    if (given)
        QCOMPARE(*serial, std::uint32_t(expected));
    QVERIFY(!system.volumeSerial(QStringLiteral("q:\\nothing\\")));
}

void WindowsBackendsTest::shellOpensMaximised()
{
    // The test's own helper program, opened as an address would be: it writes how it was
    // asked to show its window.
    const QString helper = qEnvironmentVariable("QM_SHOW_PROBE");
    if (helper.isEmpty())
        QSKIP("QM_SHOW_PROBE names no helper program");
    QTemporaryDir dir;
    const QString report = native(dir.filePath(QStringLiteral("shown.txt")));
    qputenv("QM_SHOW_REPORT", report.toUtf8());
    WindowsShell shell;
    shell.open(native(helper));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(report).size() > 0, 20000);
    QFile file(report);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().trimmed(), QByteArray::number(SW_SHOWMAXIMIZED));
}

QTEST_GUILESS_MAIN(WindowsBackendsTest)
#include "tst_windowsbackends.moc"
