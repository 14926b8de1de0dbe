#include "platform/net/Resolver.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QtTest>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <atomic>
#include <memory>

using namespace qm;

// Only numeric addresses, "localhost" and names under ".invalid" are used: nothing here
// may ask a name server outside this machine.
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
    void reservedNames_data();
    void reservedNames();
    void asyncRefusalArrivesLater_data();
    void asyncRefusalArrivesLater();
    void asyncAddress_data();
    void asyncAddress();
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
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected"); // empty: no address

    QTest::newRow("loopback address") << "127.0.0.1" << "127.0.0.1";
    QTest::newRow("second loopback address") << "127.0.0.2" << "127.0.0.2";
    QTest::newRow("localhost") << "localhost" << "127.0.0.1";
    QTest::newRow("IPv6 literal has no IPv4 address") << "::1" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("under .invalid") << "server.invalid" << "";
    QTest::newRow("under .invalid, upper case") << "Quenmar.INVALID" << "";
    QTest::newRow("the name invalid itself") << "invalid" << "";
}

void ResolverTest::blockingLookup()
{
    QFETCH(QString, host);
    QFETCH(QString, expected);

    const auto address = resolveIPv4(host);
    if (expected.isEmpty()) {
        QVERIFY(!address);
    } else {
        QVERIFY(address);
        QCOMPARE(address->toString(), expected);
    }
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

    QObject context;
    int calls = 0;
    ResolveResult last;
    resolveAsync(host, &context, [&](const ResolveResult &result) {
        ++calls;
        last = result;
    });
    QCOMPARE(calls, 0); // never inside the call
    QTRY_COMPARE(calls, 1);
    QVERIFY(!last.address);
    QVERIFY(!last.error.isEmpty());
}

void ResolverTest::asyncAddress_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("expected");

    QTest::newRow("IPv4 literal") << "127.0.0.1" << "127.0.0.1";
    QTest::newRow("IPv6 literal accepted") << "::1" << "::1";
    QTest::newRow("localhost prefers IPv4") << "localhost" << "127.0.0.1";
}

void ResolverTest::asyncAddress()
{
    QFETCH(QString, host);
    QFETCH(QString, expected);

    QObject context;
    int calls = 0;
    ResolveResult last;
    resolveAsync(host, &context, [&](const ResolveResult &result) {
        ++calls;
        last = result;
    });
    QCOMPARE(calls, 0);
    QTRY_COMPARE(calls, 1);
    QVERIFY(last.address);
    QCOMPARE(last.address->toString(), expected);
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
