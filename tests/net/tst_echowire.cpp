// What the echo really puts on the wire: each request is caught on the loopback of a
// network namespace of the test's own by a raw listener, and its time-to-live, its size
// and its don't-fragment bit are read from the packet itself.

#include "platform/posix/IcmpEcho.h"

#include <QtTest>

#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

using namespace qm;

namespace {

// Exit codes of the child that sends inside its own network namespace.
enum ChildExit {
    Done = 0,
    NoNamespace = 20,
    SetupFailed = 21,
    NoUnprivilegedSockets = 22,
    NoListener = 23,
};

// What the child saw, handed back through a pipe.
struct Seen
{
    int replies = -1;   // the echo's answer; -2 when it raised
    int requests = 0;   // echo requests caught on the loopback
    int ttl = -1;
    int totalLength = -1;
    int dontFragment = -1;
    int dataBytes = -1;
    int counting = -1;  // the data bytes count up from 0
};

bool configureLoopback(int mtu)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = true;
    if (mtu > 0) {
        request.ifr_mtu = mtu;
        ok = ::ioctl(fd, SIOCSIFMTU, &request) == 0;
    }
    ok = ok && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

// Only ever called inside a namespace of our own: the setting dies with it.
bool allowUnprivilegedEcho()
{
    const int fd = ::open("/proc/sys/net/ipv4/ping_group_range", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const char range[] = "0 2147483647";
    const bool written = ::write(fd, range, sizeof range - 1) == ssize_t(sizeof range - 1);
    ::close(fd);
    const int probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (probe < 0)
        return false;
    ::close(probe);
    return written;
}

// Reads every ICMP packet the listener caught and notes the echo requests among them.
void readRequests(int listener, Seen &seen)
{
    unsigned char buffer[70000];
    for (;;) {
        const ssize_t n = ::recv(listener, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0)
            return;
        if (n < 20)
            continue;
        const auto *ip = reinterpret_cast<const iphdr *>(buffer);
        const size_t headerLength = size_t(ip->ihl) * 4;
        if (size_t(n) < headerLength + 8 || buffer[headerLength] != ICMP_ECHO)
            continue;
        if (++seen.requests > 1)
            continue;
        seen.ttl = ip->ttl;
        seen.totalLength = ntohs(ip->tot_len);
        seen.dontFragment = (ntohs(ip->frag_off) & IP_DF) ? 1 : 0;
        seen.dataBytes = int(n) - int(headerLength) - 8;
        seen.counting = 1;
        for (int i = 0; i < seen.dataBytes; ++i) {
            if (buffer[headerLength + 8 + size_t(i)] != static_cast<unsigned char>(i))
                seen.counting = 0;
        }
    }
}

} // namespace

class EchoWireTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requestAsSent_data();
    void requestAsSent();
};

void EchoWireTest::requestAsSent_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("ttl");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("mtu"); // of the namespace's loopback; 0: as it comes
    QTest::addColumn<bool>("unprivileged");
    QTest::addColumn<bool>("answered");

    // Times-to-live other than the system's default of 64, so that a setting left out shows.
    QTest::newRow("as the connection test sends, but ttl 1") << 56 << 1 << 0 << 0 << false << true;
    QTest::newRow("ttl 200, don't fragment, no data") << 0 << 200 << 2 << 0 << false << true;
    QTest::newRow("ttl 33, odd size, don't fragment") << 1401 << 33 << 2 << 0 << false << true;
    QTest::newRow("ttl 255, fragments allowed over a narrow path") << 3000 << 255 << 0 << 1500 << false << true;
    QTest::newRow("don't fragment over a narrow path: nothing goes out") << 3000 << 64 << 2 << 1500 << false << false;
    QTest::newRow("unprivileged socket, ttl 7") << 56 << 7 << 0 << 0 << true << true;
    QTest::newRow("unprivileged socket, ttl 129, don't fragment") << 100 << 129 << 2 << 0 << true << true;
}

void EchoWireTest::requestAsSent()
{
    QFETCH(int, size);
    QFETCH(int, ttl);
    QFETCH(int, flags);
    QFETCH(int, mtu);
    QFETCH(bool, unprivileged);
    QFETCH(bool, answered);

    int channel[2];
    QCOMPARE(::pipe2(channel, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(channel[0]);
        if (::unshare(CLONE_NEWNET) != 0)
            ::_exit(NoNamespace);
        if (!configureLoopback(mtu))
            ::_exit(SetupFailed);
        if (unprivileged && !allowUnprivilegedEcho())
            ::_exit(NoUnprivilegedSockets);
        // The listener sees every ICMP packet of the namespace, the requests included.
        const int listener = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (listener < 0)
            ::_exit(NoListener);
        Seen seen;
        try {
            seen.replies = IcmpEcho().echo({QStringLiteral("127.0.0.1"), size, 2000, ttl, flags});
        } catch (const EchoError &) {
            seen.replies = -2;
        }
        readRequests(listener, seen);
        const bool sent = ::write(channel[1], &seen, sizeof seen) == ssize_t(sizeof seen);
        ::_exit(sent ? Done : SetupFailed);
    }
    ::close(channel[1]);
    Seen seen;
    const ssize_t got = ::read(channel[0], &seen, sizeof seen);
    ::close(channel[0]);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    if (code == NoNamespace)
        QSKIP("cannot create a network namespace here (needs root or CAP_SYS_ADMIN)");
    if (code == NoListener)
        QSKIP("cannot open a raw ICMP listener here (needs root or CAP_NET_RAW)");
    if (code == NoUnprivilegedSockets)
        QSKIP("this system offers no unprivileged ICMP sockets, even where permitted");
    QCOMPARE(code, int(Done));
    QCOMPARE(got, ssize_t(sizeof seen));

    QVERIFY2(seen.replies != -2, "the echo raised EchoError");
    if (!answered) {
        QCOMPARE(seen.replies, 0);
        QCOMPARE(seen.requests, 0);
        return;
    }
    QCOMPARE(seen.replies, 1);
    QCOMPARE(seen.requests, 1);
    QCOMPARE(seen.ttl, ttl);
    QCOMPARE(seen.dataBytes, size);
    QCOMPARE(seen.totalLength, 20 + 8 + size);
    QCOMPARE(seen.counting, 1);
    QCOMPARE(seen.dontFragment, (flags & 2) ? 1 : 0);
}

QTEST_GUILESS_MAIN(EchoWireTest)
#include "tst_echowire.moc"
