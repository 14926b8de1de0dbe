#include "platform/posix/IcmpEcho.h"
#include "tests/NetNamespace.h"

#include <QElapsedTimer>
#include <QUdpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>

using namespace qm;

namespace {

// Exit codes of the child that runs an echo in its own network namespace.
enum ChildExit {
    NoReply = 0,
    Reply = 1,
    EchoFailed = 10,
    NoNamespace = 20,
    SetupFailed = 21,
    NoUnprivilegedSockets = 22,
};

QByteArray netNamespace()
{
    char link[256] = {};
    const ssize_t n = ::readlink("/proc/self/ns/net", link, sizeof link - 1);
    return n > 0 ? QByteArray(link, int(n)) : QByteArray();
}

// Only ever called inside a namespace of our own: the setting dies with it.
bool writeNamespaceSetting(const char *path, const char *value)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const auto length = std::strlen(value);
    const bool ok = ::write(fd, value, length) == ssize_t(length);
    ::close(fd);
    return ok;
}

bool ignoreEchoRequests(bool ipv6)
{
    return writeNamespaceSetting(ipv6 ? "/proc/sys/net/ipv6/icmp/echo_ignore_all"
                                      : "/proc/sys/net/ipv4/icmp_echo_ignore_all",
                                 "1");
}

// Lets every group open unprivileged ICMP sockets, so the echo takes that kind.
bool allowUnprivilegedEcho(bool ipv6)
{
    if (!writeNamespaceSetting("/proc/sys/net/ipv4/ping_group_range", "0 2147483647"))
        return false;
    const int fd = ipv6 ? ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMPV6)
                        : ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Sends echo replies to 127.0.0.1 that belong to somebody else (another identifier) and
// an error message, as other programs' traffic would look to a raw socket.
void sendForeignTraffic(const std::atomic<bool> &stop)
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const quint16 foreignId = quint16(::getpid() + 1);
    for (quint16 sequence = 0; !stop; ++sequence) {
        unsigned char packet[16] = {};
        packet[0] = (sequence % 2) ? ICMP_ECHOREPLY : ICMP_DEST_UNREACH;
        packet[4] = foreignId >> 8;
        packet[5] = foreignId & 0xFF;
        packet[6] = sequence >> 8;
        packet[7] = sequence & 0xFF;
        quint32 sum = 0;
        for (size_t i = 0; i < sizeof packet; i += 2)
            sum += quint32(packet[i]) << 8 | packet[i + 1];
        while (sum >> 16)
            sum = (sum & 0xFFFF) + (sum >> 16);
        packet[2] = quint8(~sum >> 8);
        packet[3] = quint8(~sum & 0xFF);
        ::sendto(fd, packet, sizeof packet, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        ::usleep(20 * 1000);
    }
    ::close(fd);
}

} // namespace

class IcmpEchoTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void loopbackReplies_data();
    void loopbackReplies();
    void unresolvableNameGivesNoReply();
    void lookupBoundedByTimeout_data();
    void lookupBoundedByTimeout();
    void echoByName_data();
    void echoByName();
    void invalidSizeIsAFailure();
    void isolatedNetwork_data();
    void isolatedNetwork();

private:
    bool m_canEcho = false;
    QString m_whyNot;
    bool m_canEcho6 = false;
};

void IcmpEchoTest::initTestCase()
{
    IcmpEcho echo;
    try {
        echo.echo({QStringLiteral("127.0.0.1"), 8, 2000, 64, 0});
        m_canEcho = true;
    } catch (const EchoError &e) {
        m_whyNot = QStringLiteral("this machine permits neither ICMP socket kind: ")
                 + QString::fromUtf8(e.what());
    }
    // IPv6 loopback, where this machine has it.
    QUdpSocket probe;
    m_canEcho6 = m_canEcho && probe.bind(QHostAddress::LocalHostIPv6, 0);
}

void IcmpEchoTest::loopbackReplies_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("ttl");
    QTest::addColumn<int>("flags");

    QTest::newRow("127.0.0.1, as the connection test sends") << "127.0.0.1" << 56 << 64 << 0;
    QTest::newRow("127.0.0.2, second loopback address") << "127.0.0.2" << 56 << 64 << 0;
    QTest::newRow("localhost by name") << "localhost" << 56 << 64 << 0;
    QTest::newRow("no data") << "127.0.0.1" << 0 << 64 << 0;
    QTest::newRow("odd size") << "127.0.0.1" << 33 << 64 << 0;
    QTest::newRow("large, fragments allowed") << "127.0.0.1" << 20000 << 64 << 0;
    QTest::newRow("ttl 1") << "127.0.0.1" << 56 << 1 << 0;
    QTest::newRow("ttl 255") << "127.0.0.1" << 56 << 255 << 0;
    QTest::newRow("don't fragment") << "127.0.0.3" << 56 << 64 << 2;
    QTest::newRow("::1, ICMPv6") << "::1" << 56 << 64 << 0;
    QTest::newRow("::1 written long, ICMPv6") << "0:0:0:0:0:0:0:1" << 56 << 64 << 0;
    QTest::newRow("::1, no data") << "::1" << 0 << 64 << 0;
    QTest::newRow("::1, large, fragments allowed") << "::1" << 20000 << 64 << 0;
    QTest::newRow("::1, hop limit 1") << "::1" << 56 << 1 << 0;
    QTest::newRow("::1, don't fragment") << "::1" << 56 << 255 << 2;
}

void IcmpEchoTest::loopbackReplies()
{
    if (!m_canEcho)
        QSKIP(qPrintable(m_whyNot));
    QFETCH(QString, address);
    QFETCH(int, size);
    QFETCH(int, ttl);
    QFETCH(int, flags);
    if (address.contains(QLatin1Char(':')) && !m_canEcho6)
        QSKIP("this machine has no IPv6 loopback");

    IcmpEcho echo;
    QCOMPARE(echo.echo({address, size, 2000, ttl, flags}), 1);
    // The socket is closed every time: repeated echoes keep working.
    QCOMPARE(echo.echo({address, size, 2000, ttl, flags}), 1);
}

void IcmpEchoTest::unresolvableNameGivesNoReply()
{
    // Holds whether or not sockets may be opened: the name is refused before any.
    IcmpEcho echo;
    int replies = -1;
    try {
        replies = echo.echo({QStringLiteral("quenmar.invalid"), 56, 2000, 64, 0});
    } catch (const EchoError &e) {
        QFAIL(e.what());
    }
    QCOMPARE(replies, 0);
    QCOMPARE(echo.echo({QString(), 56, 2000, 64, 0}), 0);
}

void IcmpEchoTest::invalidSizeIsAFailure()
{
    if (!m_canEcho)
        QSKIP(qPrintable(m_whyNot));
    IcmpEcho echo;
    QVERIFY_THROWS_EXCEPTION(EchoError, echo.echo({QStringLiteral("127.0.0.1"), -1, 2000, 64, 0}));
    QVERIFY_THROWS_EXCEPTION(EchoError,
                             echo.echo({QStringLiteral("127.0.0.1"), 70000, 2000, 64, 0}));
    if (m_canEcho6)
        QVERIFY_THROWS_EXCEPTION(EchoError, echo.echo({QStringLiteral("::1"), 70000, 2000, 64, 0}));
}

void IcmpEchoTest::lookupBoundedByTimeout_data()
{
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("300 ms") << 300;
    QTest::newRow("the window's 2000 ms") << 2000;
}

// A name server that drops every query holds the echo no longer than its timeout for the
// lookup, and the echo counts as no reply. The name server is a silent socket on loopback
// in a network of the test's own: the queries go nowhere else.
void IcmpEchoTest::lookupBoundedByTimeout()
{
    QM_RUN_IN_NAMESPACE((QList<netns::ReplacedFile>{
        {"/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:2\n"},
        {"/etc/hosts", "127.0.0.1 localhost\n"}, netns::filesAndDnsOnly()}));
    QFETCH(int, timeoutMs);

    QUdpSocket silentServer;
    QVERIFY(silentServer.bind(QHostAddress::LocalHost, 53));

    IcmpEcho echo;
    QElapsedTimer clock;
    clock.start();
    int replies = -1;
    try {
        replies = echo.echo({QStringLiteral("server.quenmar.test"), 56, timeoutMs, 64, 0});
    } catch (const EchoError &e) {
        QFAIL(e.what());
    }
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(replies, 0);
    QVERIFY2(elapsed >= timeoutMs - 20 && elapsed < timeoutMs + 2000, qPrintable(QString::number(elapsed)));
    QVERIFY2(silentServer.hasPendingDatagrams(), "the lookup never asked the name server");

    // The lookup left behind stands in the way of nothing.
    if (m_canEcho)
        QCOMPARE(echo.echo({QStringLiteral("localhost"), 56, timeoutMs, 64, 0}), 1);
}

void IcmpEchoTest::echoByName_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("a name with an IPv6 address only") << "server6.quenmar.test";
    QTest::newRow("localhost, IPv6 first as the system orders it") << "localhost";
}

// A name's first address is the target, and an IPv6 one gets an ICMPv6 echo. IPv4 echoes
// go unanswered in the test's network, so only an ICMPv6 echo can get the reply.
void IcmpEchoTest::echoByName()
{
    QM_RUN_IN_NAMESPACE((QList<netns::ReplacedFile>{
        {"/etc/hosts", "127.0.0.1 localhost\n::1 localhost\n::1 server6.quenmar.test\n"},
        netns::filesAndDnsOnly()}));
    if (!m_canEcho6)
        QSKIP("this machine has no IPv6 loopback");
    QFETCH(QString, host);

    QVERIFY(ignoreEchoRequests(false));
    IcmpEcho echo;
    QCOMPARE(echo.echo({QStringLiteral("127.0.0.1"), 56, 300, 64, 0}), 0);
    QCOMPARE(echo.echo({host, 56, 2000, 64, 0}), 1);
}

void IcmpEchoTest::isolatedNetwork_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("loopbackUp");
    QTest::addColumn<bool>("ignoreEchoes");
    QTest::addColumn<bool>("foreignTraffic");
    QTest::addColumn<bool>("unprivileged");
    QTest::addColumn<int>("expected");

    for (const QString &address : {QStringLiteral("127.0.0.1"), QStringLiteral("::1")}) {
        const QByteArray family = address == QStringLiteral("::1") ? "IPv6: " : "IPv4: ";
        const auto row = [&](const char *name) -> QTestData & {
            return QTest::newRow(QByteArray(family + name).constData());
        };
        row("loopback up: reply") << address << true << false << false << false << int(Reply);
        row("loopback down: no reply")
            << address << false << false << false << false << int(NoReply);
        row("echo ignored: times out")
            << address << true << true << false << false << int(NoReply);
        row("unprivileged socket: reply")
            << address << true << false << false << true << int(Reply);
        row("unprivileged socket, echo ignored: times out")
            << address << true << true << false << true << int(NoReply);
    }
    // A raw IPv4 socket sees the whole machine's ICMP packets, other programs' included.
    QTest::newRow("IPv4: only other programs' packets: times out")
        << QStringLiteral("127.0.0.1") << true << true << true << false << int(NoReply);
}

// A network namespace of our own gives a loopback that can be made silent, so "no reply"
// is tested without sending anything beyond this machine.
void IcmpEchoTest::isolatedNetwork()
{
    if (!m_canEcho)
        QSKIP(qPrintable(m_whyNot));
    QFETCH(QString, address);
    if (address.contains(QLatin1Char(':')) && !m_canEcho6)
        QSKIP("this machine has no IPv6 loopback");
    QFETCH(bool, loopbackUp);
    QFETCH(bool, ignoreEchoes);
    QFETCH(bool, foreignTraffic);
    QFETCH(bool, unprivileged);
    QFETCH(int, expected);

    constexpr int timeoutMs = 300;
    QElapsedTimer clock;
    clock.start();
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const QByteArray before = netNamespace();
        if (::unshare(CLONE_NEWNET) != 0 || netNamespace() == before)
            ::_exit(NoNamespace);
        const bool ipv6 = address.contains(QLatin1Char(':'));
        if ((loopbackUp && !netns::detail::bringLoopbackUp()) || (ignoreEchoes && !ignoreEchoRequests(ipv6)))
            ::_exit(SetupFailed);
        if (unprivileged && !allowUnprivilegedEcho(ipv6))
            ::_exit(NoUnprivilegedSockets);
        std::atomic<bool> stop{false};
        std::thread noise;
        if (foreignTraffic)
            noise = std::thread(sendForeignTraffic, std::cref(stop));
        int result = EchoFailed;
        try {
            result = IcmpEcho().echo({address, 56, timeoutMs, 64, 0});
        } catch (const EchoError &) {
        }
        stop = true;
        if (noise.joinable())
            noise.join();
        ::_exit(result);
    }

    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    if (code == NoNamespace)
        QSKIP("cannot create a network namespace here (needs root or CAP_SYS_ADMIN)");
    if (code == NoUnprivilegedSockets)
        QSKIP("this system offers no unprivileged ICMP sockets, even where permitted");
    QVERIFY2(code != SetupFailed, "could not set up the loopback of the network namespace");
    QVERIFY2(code != EchoFailed, "the echo raised EchoError inside the namespace");
    QCOMPARE(code, expected);
    if (ignoreEchoes) // the wait lasted the whole timeout, stray packets or not
        QVERIFY(clock.elapsed() >= timeoutMs - 20);
}

QTEST_GUILESS_MAIN(IcmpEchoTest)
#include "tst_icmpecho.moc"
