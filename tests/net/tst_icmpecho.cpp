#include "platform/posix/IcmpEcho.h"

#include <QElapsedTimer>
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

bool bringLoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
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

bool ignoreEchoRequests()
{
    return writeNamespaceSetting("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1");
}

// Lets every group open unprivileged ICMP sockets, so the echo takes that kind.
bool allowUnprivilegedEcho()
{
    if (!writeNamespaceSetting("/proc/sys/net/ipv4/ping_group_range", "0 2147483647"))
        return false;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
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
    void invalidSizeIsAFailure();
    void isolatedNetwork_data();
    void isolatedNetwork();

private:
    bool m_canEcho = false;
    QString m_whyNot;
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
}

void IcmpEchoTest::loopbackReplies()
{
    if (!m_canEcho)
        QSKIP(qPrintable(m_whyNot));
    QFETCH(QString, address);
    QFETCH(int, size);
    QFETCH(int, ttl);
    QFETCH(int, flags);

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
}

void IcmpEchoTest::isolatedNetwork_data()
{
    QTest::addColumn<bool>("loopbackUp");
    QTest::addColumn<bool>("ignoreEchoes");
    QTest::addColumn<bool>("foreignTraffic");
    QTest::addColumn<bool>("unprivileged");
    QTest::addColumn<int>("expected");

    QTest::newRow("loopback up: reply") << true << false << false << false << int(Reply);
    QTest::newRow("loopback down: no reply") << false << false << false << false << int(NoReply);
    QTest::newRow("echo ignored: times out") << true << true << false << false << int(NoReply);
    QTest::newRow("only other programs' packets: times out")
        << true << true << true << false << int(NoReply);
    QTest::newRow("unprivileged socket: reply") << true << false << false << true << int(Reply);
    QTest::newRow("unprivileged socket, echo ignored: times out")
        << true << true << false << true << int(NoReply);
}

// A network namespace of our own gives a loopback that can be made silent, so "no reply"
// is tested without sending anything beyond this machine.
void IcmpEchoTest::isolatedNetwork()
{
    if (!m_canEcho)
        QSKIP(qPrintable(m_whyNot));
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
        if ((loopbackUp && !bringLoopbackUp()) || (ignoreEchoes && !ignoreEchoRequests()))
            ::_exit(SetupFailed);
        if (unprivileged && !allowUnprivilegedEcho())
            ::_exit(NoUnprivilegedSockets);
        std::atomic<bool> stop{false};
        std::thread noise;
        if (foreignTraffic)
            noise = std::thread(sendForeignTraffic, std::cref(stop));
        int result = EchoFailed;
        try {
            result = IcmpEcho().echo({QStringLiteral("127.0.0.1"), 56, timeoutMs, 64, 0});
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
