#include "platform/Resolver.h"

#include <QCoreApplication>
#include <QObject>
#include <QtTest>

#include <memory>

using namespace qm;

// Only numeric addresses, "localhost" and names under ".invalid" are used: nothing here
// may ask a name server outside this machine.
class ResolverTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void blockingLookup_data();
    void blockingLookup();
    void reservedNames_data();
    void reservedNames();
    void asyncRefusalArrivesLater_data();
    void asyncRefusalArrivesLater();
    void asyncAddress_data();
    void asyncAddress();
    void asyncResultDroppedWithContext();
};

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

void ResolverTest::asyncResultDroppedWithContext()
{
    int calls = 0;
    auto context = std::make_unique<QObject>();
    resolveAsync("name.invalid", context.get(), [&](const ResolveResult &) { ++calls; });
    resolveAsync("127.0.0.1", context.get(), [&](const ResolveResult &) { ++calls; });
    context.reset();
    QTest::qWait(200);
    QCOMPARE(calls, 0);
}

QTEST_GUILESS_MAIN(ResolverTest)
#include "tst_resolver.moc"
