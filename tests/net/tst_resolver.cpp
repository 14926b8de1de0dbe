#include "platform/net/Resolver.h"
#include "tests/NetNamespace.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <QtTest>
#include <QUdpSocket>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <atomic>
#include <memory>

using namespace qm;

namespace {

// Starts a lookup and waits for its one answer, which never comes inside the call.
void awaitAnswer(const QString &host, ResolveResult &answer)
{
    QObject context;
    int calls = 0;
    resolveAsync(host, &context, [&](const ResolveResult &result) {
        ++calls;
        answer = result;
    });
    QCOMPARE(calls, 0);
    QTRY_COMPARE(calls, 1);
}

QStringList texts(const std::vector<IpAddress> &addresses)
{
    QStringList result;
    for (const IpAddress &address : addresses)
        result << address.toString();
    return result;
}

} // namespace

// Only numeric addresses, "localhost" and names under ".invalid" are used, other names only
// in a network of the test's own: nothing here may ask a name server outside this machine.
class ResolverTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void numericAddress_data();
    void numericAddress();
    void socketAddressCarriesPort_data();
    void socketAddressCarriesPort();
    void blockingLookup_data();
    void blockingLookup();
    void blockingLookupBounded_data();
    void blockingLookupBounded();
    void reservedNames_data();
    void reservedNames();
    void asyncRefusalArrivesLater_data();
    void asyncRefusalArrivesLater();
    void asyncAddress_data();
    void asyncAddress();
    void asyncGivesEveryAddress();
    void asyncResultDroppedWithContext_data();
    void asyncResultDroppedWithContext();
    void cancelledLookupNeverReports();
    void deliveredOnContextThread_data();
    void deliveredOnContextThread();
};

void ResolverTest::numericAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected"); // empty: not a numeric address
    QTest::addColumn<bool>("ipv4");

    QTest::newRow("IPv4") << "127.0.0.1" << "127.0.0.1" << true;
    QTest::newRow("IPv4 with blanks around") << " 127.0.0.2 " << "127.0.0.2" << true;
    QTest::newRow("IPv6 loopback") << "::1" << "::1" << false;
    QTest::newRow("IPv6 written long") << "0:0:0:0:0:0:0:1" << "::1" << false;
    QTest::newRow("IPv4 mapped into IPv6") << "::ffff:127.0.0.1" << "::ffff:127.0.0.1" << false;
    QTest::newRow("link-local with interface name") << "fe80::1%lo" << "fe80::1%lo" << false;
    QTest::newRow("unknown interface") << "fe80::1%nosuchif0" << "" << false;
    QTest::newRow("empty interface") << "fe80::1%" << "" << false;
    QTest::newRow("a name is never looked up") << "localhost" << "" << false;
    QTest::newRow("IPv4 part above 255") << "256.0.0.1" << "" << false;
    QTest::newRow("IPv4 with five parts") << "1.2.3.4.5" << "" << false;
    QTest::newRow("two double colons") << "1::2::3" << "" << false;
    QTest::newRow("empty") << "" << "" << false;
}

void ResolverTest::numericAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(bool, ipv4);

    const auto address = IpAddress::fromString(text);
    if (expected.isEmpty()) {
        QVERIFY(!address);
        return;
    }
    QVERIFY(address);
    QCOMPARE(address->toString(), expected);
    QCOMPARE(address->isIPv4(), ipv4);
    QCOMPARE(address->isIPv6(), !ipv4);
}

void ResolverTest::socketAddressCarriesPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port");

    QTest::newRow("IPv4, the game's default port") << "127.0.0.1" << 8078;
    QTest::newRow("IPv4, port with both bytes set") << "127.0.0.3" << 0x1234;
    QTest::newRow("IPv6, highest port") << "::1" << 65535;
    QTest::newRow("IPv6 link-local keeps its interface") << "fe80::1%lo" << 1;
}

void ResolverTest::socketAddressCarriesPort()
{
    QFETCH(QString, text);
    QFETCH(int, port);

    const auto address = IpAddress::fromString(text);
    QVERIFY(address);
    sockaddr_storage storage{};
    const socklen_t length = address->toSocketAddress(quint16(port), storage);
    if (address->isIPv4()) {
        QCOMPARE(length, socklen_t(sizeof(sockaddr_in)));
        const auto *in4 = reinterpret_cast<const sockaddr_in *>(&storage);
        QCOMPARE(in4->sin_family, sa_family_t(AF_INET));
        QCOMPARE(ntohs(in4->sin_port), quint16(port));
    } else {
        QCOMPARE(length, socklen_t(sizeof(sockaddr_in6)));
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&storage);
        QCOMPARE(in6->sin6_family, sa_family_t(AF_INET6));
        QCOMPARE(ntohs(in6->sin6_port), quint16(port));
        if (text.contains(QLatin1Char('%')))
            QCOMPARE(in6->sin6_scope_id, ::if_nametoindex("lo"));
    }

    // Back from what the socket calls hand out: the same address, the port left out.
    const auto back = IpAddress::fromSocketAddress(reinterpret_cast<const sockaddr *>(&storage), length);
    QVERIFY(back);
    QCOMPARE(back->toString(), address->toString());
    sockaddr_storage again{};
    back->toSocketAddress(0, again);
    QCOMPARE(ntohs(reinterpret_cast<const sockaddr_in *>(&again)->sin_port), quint16(0));
}

void ResolverTest::blockingLookup_data()
{
    QTest::addColumn<bool>("ipv4Only");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected"); // empty: no address

    QTest::newRow("loopback address") << true << "127.0.0.1" << "127.0.0.1";
    QTest::newRow("second loopback address") << true << "127.0.0.2" << "127.0.0.2";
    QTest::newRow("localhost") << true << "localhost" << "127.0.0.1";
    QTest::newRow("IPv6 literal has no IPv4 address") << true << "::1" << "";
    QTest::newRow("empty") << true << "" << "";
    QTest::newRow("under .invalid") << true << "server.invalid" << "";
    QTest::newRow("under .invalid, upper case") << true << "Quenmar.INVALID" << "";
    QTest::newRow("the name invalid itself") << true << "invalid" << "";
    QTest::newRow("echo: IPv4 literal") << false << "127.0.0.3" << "127.0.0.3";
    QTest::newRow("echo: IPv6 literal") << false << "::1" << "::1";
    QTest::newRow("echo: empty") << false << "" << "";
    QTest::newRow("echo: under .invalid") << false << "server.invalid" << "";
}

void ResolverTest::blockingLookup()
{
    QFETCH(bool, ipv4Only);
    QFETCH(QString, host);
    QFETCH(QString, expected);

    const auto address = ipv4Only ? resolveIPv4(host, 2000) : resolveForEcho(host, 2000);
    if (expected.isEmpty()) {
        QVERIFY(!address);
    } else {
        QVERIFY(address);
        QCOMPARE(address->toString(), expected);
    }
}

void ResolverTest::blockingLookupBounded_data()
{
    QTest::addColumn<bool>("ipv4Only");
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("IPv4, 300 ms") << true << 300;
    QTest::newRow("echo, 300 ms") << false << 300;
    QTest::newRow("echo, no time at all") << false << 0;
}

// A name server that never answers is waited for no longer than the caller allows. It
// runs on loopback in a network of the test's own: the queries go nowhere else.
void ResolverTest::blockingLookupBounded()
{
    QM_RUN_IN_NAMESPACE((QList<netns::ReplacedFile>{
        {"/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n"},
        {"/etc/hosts", "127.0.0.1 localhost\n"}, netns::filesAndDnsOnly()}));
    QFETCH(bool, ipv4Only);
    QFETCH(int, timeoutMs);

    // Takes the queries and drops them.
    QUdpSocket silentServer;
    QVERIFY(silentServer.bind(QHostAddress::LocalHost, 53));

    QElapsedTimer clock;
    clock.start();
    const QString name = QStringLiteral("server.quenmar.test");
    const auto address = ipv4Only ? resolveIPv4(name, timeoutMs) : resolveForEcho(name, timeoutMs);
    const qint64 elapsed = clock.elapsed();
    QVERIFY(!address);
    QVERIFY2(elapsed >= timeoutMs - 20 && elapsed < timeoutMs + 2000, qPrintable(QString::number(elapsed)));

    // Names the files answer still resolve at once, beside the lookup still waiting.
    const auto local = resolveIPv4(QStringLiteral("localhost"), 2000);
    QVERIFY(local);
    QCOMPARE(local->toString(), QStringLiteral("127.0.0.1"));
}

void ResolverTest::reservedNames_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("reserved");

    QTest::newRow("invalid") << "invalid" << true;
    QTest::newRow("INVALID") << "INVALID" << true;
    QTest::newRow("name.invalid") << "name.invalid" << true;
    QTest::newRow("deep.name.Invalid") << "deep.name.Invalid" << true;
    QTest::newRow("trailing dot") << "name.invalid." << true;
    QTest::newRow("invalid as a label inside") << "invalid.example.org" << false;
    QTest::newRow("suffix without dot") << "notinvalid" << false;
    QTest::newRow("localhost") << "localhost" << false;
}

void ResolverTest::reservedNames()
{
    QFETCH(QString, host);
    QFETCH(bool, reserved);
    QCOMPARE(isReservedInvalidName(host), reserved);
}

void ResolverTest::asyncRefusalArrivesLater_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("under .invalid") << "name.invalid";
    QTest::newRow("the name invalid") << "Invalid";
    QTest::newRow("empty") << "";
}

void ResolverTest::asyncRefusalArrivesLater()
{
    QFETCH(QString, host);

    ResolveResult last;
    awaitAnswer(host, last);
    if (QTest::currentTestFailed())
        return;
    QVERIFY(last.addresses.empty());
    QVERIFY(!last.error.isEmpty());
}

void ResolverTest::asyncAddress_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected");

    QTest::newRow("IPv4 literal") << "127.0.0.1" << "127.0.0.1";
    QTest::newRow("IPv6 literal accepted") << "::1" << "::1";
    QTest::newRow("localhost") << "localhost" << "127.0.0.1";
}

void ResolverTest::asyncAddress()
{
    QFETCH(QString, host);
    QFETCH(QString, expected);

    ResolveResult last;
    awaitAnswer(host, last);
    if (QTest::currentTestFailed())
        return;
    const QStringList addresses = texts(last.addresses);
    QVERIFY2(addresses.contains(expected), qPrintable(addresses.join(QLatin1Char(' '))));
    QVERIFY(last.error.isEmpty());
}

// A name with an address of each family gives both, in the order the system puts them
// (IPv6 loopback before IPv4 loopback), one entry each.
void ResolverTest::asyncGivesEveryAddress()
{
    QM_RUN_IN_NAMESPACE((QList<netns::ReplacedFile>{
        {"/etc/hosts", "127.0.0.1 localhost\n::1 localhost\n127.0.0.7 game.quenmar.test\n"
                       "::1 game.quenmar.test\n"},
        netns::filesAndDnsOnly()}));

    for (const QString &host : {QStringLiteral("localhost"), QStringLiteral("game.quenmar.test")}) {
        ResolveResult last;
        awaitAnswer(host, last);
        if (QTest::currentTestFailed())
            return;
        const QStringList addresses = texts(last.addresses);
        const QString ipv4 = host == QStringLiteral("localhost") ? QStringLiteral("127.0.0.1")
                                                                 : QStringLiteral("127.0.0.7");
        QCOMPARE(addresses, (QStringList{QStringLiteral("::1"), ipv4}));
    }
}

void ResolverTest::asyncResultDroppedWithContext_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("refused name") << "name.invalid";
    QTest::newRow("numeric address") << "127.0.0.1";
    QTest::newRow("name looked up") << "localhost";
}

void ResolverTest::asyncResultDroppedWithContext()
{
    QFETCH(QString, host);
    int calls = 0;
    auto context = std::make_unique<QObject>();
    resolveAsync(host, context.get(), [&](const ResolveResult &) { ++calls; });
    context.reset();
    QTest::qWait(300);
    QCOMPARE(calls, 0);
}

// Cancelling drops the answer even when it is already on its way; other lookups go on.
void ResolverTest::cancelledLookupNeverReports()
{
    QObject context;
    int cancelledCalls = 0;
    int otherCalls = 0;
    const int cancelled = resolveAsync("localhost", &context, [&](const ResolveResult &) { ++cancelledCalls; });
    const int other = resolveAsync("localhost", &context, [&](const ResolveResult &) { ++otherCalls; });
    QVERIFY(cancelled >= 0);
    QVERIFY(other >= 0);
    QVERIFY(other != cancelled);
    QThread::msleep(100); // the answer is on its way, not yet handled
    cancelResolve(cancelled);
    QTRY_COMPARE(otherCalls, 1);
    QTest::qWait(200);
    QCOMPARE(cancelledCalls, 0);
}

void ResolverTest::deliveredOnContextThread_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("refused name") << "name.invalid";
    QTest::newRow("numeric address") << "127.0.0.1";
    QTest::newRow("name looked up") << "localhost";
}

// The answer runs where the context lives, not where the lookup was started or ran.
void ResolverTest::deliveredOnContextThread()
{
    QFETCH(QString, host);

    QThread thread;
    thread.start();
    auto *context = new QObject;
    context->moveToThread(&thread);

    std::atomic<QThread *> ranOn{nullptr};
    std::atomic<int> calls{0};
    resolveAsync(host, context, [&](const ResolveResult &) {
        ranOn = QThread::currentThread();
        ++calls;
    });
    QTRY_COMPARE(calls.load(), 1);
    QCOMPARE(ranOn.load(), &thread);

    QObject::connect(context, &QObject::destroyed, &thread, &QThread::quit, Qt::DirectConnection);
    context->deleteLater();
    QVERIFY(thread.wait(10000));
    QCOMPARE(calls.load(), 1);
}

QTEST_GUILESS_MAIN(ResolverTest)
#include "tst_resolver.moc"
