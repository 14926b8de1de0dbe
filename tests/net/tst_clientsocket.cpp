#include "platform/ClientSocket.h"
#include "platform/Exceptions.h"
#include "tests/NetNamespace.h"
#include "tests/ResettingListener.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>

using namespace qm;

namespace {

// What a socket reported, kept outside the socket so that it outlives it.
struct Events
{
    int connects = 0;
    int disconnects = 0;
    int errors = 0;
    int lastErrorCode = 0;
    bool activeAtConnect = false;
    QByteArray order; // 'c' connect, 'd' disconnect, 'e' error, in the order reported
    int total() const { return connects + disconnects + errors; }
};

// Handlers as the program installs them; the error handler clears the code or leaves it.
void attach(TClientSocket &socket, Events &events, bool clearErrorCode = true)
{
    QPointer<TClientSocket> guard(&socket);
    socket.OnConnect = [&events, guard] {
        ++events.connects;
        events.order += 'c';
        events.activeAtConnect = guard && guard->Active();
    };
    socket.OnDisconnect = [&events] {
        ++events.disconnects;
        events.order += 'd';
    };
    socket.OnError = [&events, clearErrorCode](int &code) {
        ++events.errors;
        events.order += 'e';
        events.lastErrorCode = code;
        if (clearErrorCode)
            code = 0;
    };
}

// A port on 127.0.0.1 where nobody listens: bound once, then let go.
quint16 closedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

// The server's end sends a reset instead of a close (a zero linger time makes it so).
void resetConnection(QTcpSocket *peer)
{
    const linger hard{1, 0};
    ::setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    peer->abort();
}

int openDescriptors()
{
    DIR *folder = ::opendir("/proc/self/fd");
    if (!folder)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(folder))
        count += entry->d_name[0] != '.';
    ::closedir(folder);
    return count;
}

// A pipe opened where a descriptor was just closed takes its number: a second close of the
// same descriptor would close the pipe instead.
class Sentinel final
{
public:
    Sentinel()
    {
        if (::pipe2(m_fds, O_CLOEXEC) != 0)
            m_fds[0] = m_fds[1] = -1;
    }
    Sentinel(const Sentinel &) = delete;
    Sentinel &operator=(const Sentinel &) = delete;
    ~Sentinel()
    {
        for (int fd : m_fds) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    bool intact() const
    {
        return m_fds[0] >= 0 && ::fcntl(m_fds[0], F_GETFD) != -1 && ::fcntl(m_fds[1], F_GETFD) != -1;
    }

private:
    int m_fds[2];
};

enum class PeerEnd { Close, DataThenClose, Reset, DataThenReset };
enum class Lifetime {
    ConnectedThenDeactivated,
    PeerClosed,
    PeerReset,
    Refused,
    CancelledWhileConnecting,
    DestroyedWhileConnecting,
    DestroyedWhileConnected,
};

} // namespace

Q_DECLARE_METATYPE(PeerEnd)
Q_DECLARE_METATYPE(Lifetime)

class ClientSocketTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void connectReportsActive_data();
    void connectReportsActive();
    void peerEndsConnection_data();
    void peerEndsConnection();
    void resetBeforeClientLooks();
    void serverDataIsReadAndLetGo();
    void closingConnectedReportsInsideCall();
    void refusedConnection_data();
    void refusedConnection();
    void startFailsAtOnce_data();
    void startFailsAtOnce();
    void lookupFailure_data();
    void lookupFailure();
    void everyAddressTried_data();
    void everyAddressTried();
    void deactivatingInactiveDoesNothing();
    void cancelPendingAttempt_data();
    void cancelPendingAttempt();
    void noEventsAfterDestruction_data();
    void noEventsAfterDestruction();
    void handlerFailureGoesToDisplay();
    void descriptorsClosedOnce_data();
    void descriptorsClosedOnce();

private:
    // Connects `socket` to m_server and returns the server's end of the connection.
    QTcpSocket *connectToServer(TClientSocket &socket, Events &events);
    bool runLifetime(Lifetime lifetime);

    QTcpServer m_server;
    QStringList m_shown;
    ExceptionDisplay m_previousDisplay;
};

void ClientSocketTest::initTestCase()
{
    QVERIFY(m_server.listen(QHostAddress::LocalHost));
}

void ClientSocketTest::init()
{
    m_shown.clear();
    m_previousDisplay = setExceptionDisplay([this](const QString &message) { m_shown << message; });
}

void ClientSocketTest::cleanup()
{
    setExceptionDisplay(m_previousDisplay);
    while (QTcpSocket *peer = m_server.nextPendingConnection())
        delete peer;
}

QTcpSocket *ClientSocketTest::connectToServer(TClientSocket &socket, Events &events)
{
    socket.Host = QStringLiteral("127.0.0.1");
    socket.Port = m_server.serverPort();
    socket.setActive(true);
    if (!QTest::qWaitFor([&] { return events.connects == 1; }))
        return nullptr;
    if (!m_server.hasPendingConnections() && !m_server.waitForNewConnection(5000))
        return nullptr;
    QTcpSocket *peer = m_server.nextPendingConnection();
    peer->setParent(this);
    return peer;
}

void ClientSocketTest::connectReportsActive_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("address") << "127.0.0.1";
    // The listener is IPv4 only: this also shows that IPv4 is preferred.
    QTest::newRow("localhost") << "localhost";
}

void ClientSocketTest::connectReportsActive()
{
    QFETCH(QString, host);
    TClientSocket socket;
    Events events;
    attach(socket, events);

    socket.Host = host;
    socket.Port = m_server.serverPort();
    socket.setActive(true);
    QCOMPARE(events.total(), 0); // returns at once
    QVERIFY(!socket.Active());

    QTRY_COMPARE(events.connects, 1);
    QVERIFY(events.activeAtConnect);
    QVERIFY(socket.Active());
    QVERIFY(m_server.hasPendingConnections() || m_server.waitForNewConnection(5000));
    QCOMPARE(events.disconnects, 0);
    QCOMPARE(events.errors, 0);
    QVERIFY(m_shown.isEmpty());
}

void ClientSocketTest::peerEndsConnection_data()
{
    QTest::addColumn<PeerEnd>("end");
    QTest::newRow("close") << PeerEnd::Close;
    QTest::newRow("data, then close") << PeerEnd::DataThenClose;
    QTest::newRow("reset") << PeerEnd::Reset;
    QTest::newRow("data, then reset") << PeerEnd::DataThenReset;
}

// However the server ends the connection, it is a disconnect and no failure.
void ClientSocketTest::peerEndsConnection()
{
    QFETCH(PeerEnd, end);
    TClientSocket socket;
    Events events;
    attach(socket, events);
    QTcpSocket *peer = connectToServer(socket, events);
    QVERIFY(peer);

    if (end == PeerEnd::DataThenClose || end == PeerEnd::DataThenReset) {
        peer->write(QByteArray(100000, 'q'));
        QTRY_COMPARE(peer->bytesToWrite(), qint64(0));
    }
    if (end == PeerEnd::Reset || end == PeerEnd::DataThenReset)
        resetConnection(peer);
    else
        peer->close();

    QTRY_COMPARE(events.disconnects, 1);
    QVERIFY(!socket.Active());
    QTest::qWait(100);
    QCOMPARE(events.disconnects, 1);
    QCOMPARE(events.errors, 0);
    QVERIFY(m_shown.isEmpty());
}

// A server that accepts and resets at once, with the reset in before the client looks at
// its connection: the handshake completed, so the connection was made, and then ended by
// the server. Each round is made to go that way, so every round must report just that.
void ClientSocketTest::resetBeforeClientLooks()
{
    ResettingListener server;
    QVERIFY(server.port() != 0);

    for (int round = 0; round < 50; ++round) {
        TClientSocket socket;
        Events events;
        attach(socket, events, false);
        socket.Host = QStringLiteral("127.0.0.1");
        socket.Port = server.port();
        socket.setActive(true);
        // The address arrives (a posted event) and the connection starts; the client's
        // notifiers wait for the event loop.
        QCoreApplication::sendPostedEvents();
        QVERIFY(server.waitForReset());
        QTest::qWait(10); // the reset on its way through loopback

        QTRY_COMPARE_WITH_TIMEOUT(events.total(), 2, 5000);
        QCOMPARE(events.order, QByteArray("cd"));
        QVERIFY(events.activeAtConnect);
        QVERIFY(!socket.Active());
        QTest::qWait(20);
        QCOMPARE(events.total(), 2);
    }
    QCOMPARE(server.accepted(), 50); // one connection a round: nothing tried again
    QVERIFY(m_shown.isEmpty());
}

// What the server sends is read and let go: far more than the socket buffers hold gets
// through, and the connection stays as it was.
void ClientSocketTest::serverDataIsReadAndLetGo()
{
    TClientSocket socket;
    Events events;
    attach(socket, events);
    QTcpSocket *peer = connectToServer(socket, events);
    QVERIFY(peer);

    const QByteArray chunk(1 << 20, 'q');
    for (int i = 0; i < 64; ++i)
        peer->write(chunk);
    QTRY_COMPARE_WITH_TIMEOUT(peer->bytesToWrite(), qint64(0), 60000);
    QVERIFY(socket.Active());
    QCOMPARE(events.total(), 1);

    peer->close();
    QTRY_COMPARE(events.disconnects, 1);
    QCOMPARE(events.errors, 0);
    QVERIFY(m_shown.isEmpty());
}

void ClientSocketTest::closingConnectedReportsInsideCall()
{
    TClientSocket socket;
    Events events;
    attach(socket, events);
    QTcpSocket *peer = connectToServer(socket, events);
    QVERIFY(peer);

    socket.setActive(false);
    QCOMPARE(events.disconnects, 1);
    QVERIFY(!socket.Active());
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState); // really closed
    QTest::qWait(100);
    QCOMPARE(events.disconnects, 1); // not reported a second time
    QCOMPARE(events.errors, 0);
    QVERIFY(m_shown.isEmpty());
}

void ClientSocketTest::refusedConnection_data()
{
    QTest::addColumn<bool>("clearErrorCode");
    QTest::addColumn<bool>("portZero");
    QTest::newRow("handler clears the code: nothing more") << true << false;
    QTest::newRow("handler leaves the code: shown and closed") << false << false;
    // Port 0 is a 16-bit port like any other, and nobody can listen on it.
    QTest::newRow("port 0, handler clears the code: nothing more") << true << true;
    QTest::newRow("port 0, handler leaves the code: shown and closed") << false << true;
}

void ClientSocketTest::refusedConnection()
{
    QFETCH(bool, clearErrorCode);
    QFETCH(bool, portZero);
    const quint16 port = portZero ? 0 : closedPort();
    QVERIFY(portZero || port != 0);

    TClientSocket socket;
    Events events;
    attach(socket, events, clearErrorCode);
    socket.Host = QStringLiteral("127.0.0.1");
    socket.Port = port;
    socket.setActive(true); // no exception: the failure comes later
    QCOMPARE(events.total(), 0);

    QTRY_COMPARE(events.errors, 1);
    QVERIFY(events.lastErrorCode != 0);
    QVERIFY(!socket.Active());
    if (clearErrorCode) {
        QTest::qWait(100);
        QCOMPARE(events.disconnects, 0);
        QVERIFY(m_shown.isEmpty());
    } else {
        QTRY_COMPARE(events.disconnects, 1);
        QCOMPARE(m_shown.size(), 1);
        QVERIFY2(m_shown.first().contains(QStringLiteral(" port %1:").arg(port)), qPrintable(m_shown.first()));
    }
    QCOMPARE(events.connects, 0);
    QCOMPARE(events.errors, 1);

    // The failed attempt left the client ready for another one.
    const int disconnectsBefore = events.disconnects;
    QTcpSocket *peer = connectToServer(socket, events);
    QVERIFY(peer);
    QVERIFY(socket.Active());
    QCOMPARE(events.disconnects, disconnectsBefore);
    QCOMPARE(events.errors, 1);
}

void ClientSocketTest::startFailsAtOnce_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    const int listening = m_server.serverPort();
    QTest::newRow("empty host") << "" << listening;
    QTest::newRow("port -1") << "127.0.0.1" << -1;
    QTest::newRow("port 70000") << "127.0.0.1" << 70000;
    QTest::newRow("port 65536") << "127.0.0.1" << 65536;
    // Cut to 16 bits this would reach the listener.
    QTest::newRow("port wrapping onto a listener") << "127.0.0.1" << listening + 65536;
    QTest::newRow("negative port wrapping onto a listener") << "127.0.0.1" << listening - 65536;
}

void ClientSocketTest::startFailsAtOnce()
{
    QFETCH(QString, host);
    QFETCH(int, port);

    TClientSocket socket;
    Events events;
    attach(socket, events);
    socket.Host = host;
    socket.Port = port;

    int disconnectsAtThrow = -1;
    try {
        socket.setActive(true);
        QFAIL("SocketError expected");
    } catch (const SocketError &) {
        disconnectsAtThrow = events.disconnects;
    }
    QCOMPARE(disconnectsAtThrow, 1); // reported inside the call, before the exception
    QVERIFY(!socket.Active());

    QTest::qWait(200);
    QCOMPARE(events.total(), 1); // and nothing after
    QVERIFY(m_shown.isEmpty());
    QVERIFY(!m_server.hasPendingConnections());
}

void ClientSocketTest::lookupFailure_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("under .invalid") << "name.invalid";
    QTest::newRow("upper case") << "QUENMAR.INVALID";
}

void ClientSocketTest::lookupFailure()
{
    QFETCH(QString, host);
    TClientSocket socket;
    Events events;
    attach(socket, events);
    socket.Host = host;
    socket.Port = 1234;

    socket.setActive(true); // no exception: the failure comes later
    QCOMPARE(events.total(), 0);
    QVERIFY(m_shown.isEmpty());

    QTRY_COMPARE(events.disconnects, 1);
    QTRY_COMPARE(m_shown.size(), 1);
    QVERIFY2(m_shown.first().contains(host), qPrintable(m_shown.first()));
    QCOMPARE(events.connects, 0);
    QCOMPARE(events.errors, 0);
    QVERIFY(!socket.Active());
}

void ClientSocketTest::everyAddressTried_data()
{
    QTest::addColumn<QString>("listenOn"); // "" for nobody
    QTest::addColumn<QString>("secondListener");
    QTest::addColumn<QString>("connectedTo");

    // "localhost" is "::1", then "127.0.0.1", as the system orders them.
    QTest::newRow("server on ::1 only: the first address") << "::1" << "" << "::1";
    QTest::newRow("server on 127.0.0.1 only: the second address, after a refusal")
        << "127.0.0.1" << "" << "127.0.0.1";
    QTest::newRow("both listen: the first address connects, no other is tried")
        << "::1" << "127.0.0.1" << "::1";
    QTest::newRow("nobody listens: one failure, for the last address") << "" << "" << "";
}

// Every address of a name is tried, in the system's order, until one connects; the
// attempt fails only when none does. Run where "localhost" has both loopback addresses.
void ClientSocketTest::everyAddressTried()
{
    QM_RUN_IN_NAMESPACE((QList<netns::ReplacedFile>{
        {"/etc/hosts", "127.0.0.1 localhost\n::1 localhost\n"}, netns::filesAndDnsOnly()}));

    QFETCH(QString, listenOn);
    QFETCH(QString, secondListener);
    QFETCH(QString, connectedTo);

    // One port on both addresses: bound on the first, then taken on the other too.
    quint16 port = 0;
    QTcpServer first;
    QTcpServer second;
    for (int tries = 0; tries < 20 && port == 0; ++tries) {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHostIPv6));
        const quint16 candidate = probe.serverPort();
        probe.close();
        QTcpServer other;
        if (!other.listen(QHostAddress::LocalHost, candidate))
            continue;
        other.close();
        port = candidate;
    }
    QVERIFY(port != 0);
    if (!listenOn.isEmpty())
        QVERIFY(first.listen(QHostAddress(listenOn), port));
    if (!secondListener.isEmpty())
        QVERIFY(second.listen(QHostAddress(secondListener), port));

    TClientSocket socket;
    Events events;
    attach(socket, events);
    socket.Host = QStringLiteral("localhost");
    socket.Port = port;
    socket.setActive(true);

    if (connectedTo.isEmpty()) {
        QTRY_COMPARE(events.errors, 1);
        QTest::qWait(100);
        QCOMPARE(events.order, QByteArray("e"));
        QCOMPARE(events.lastErrorCode, 10061); // refused
        QVERIFY(!socket.Active());
        return;
    }
    QTRY_COMPARE(events.connects, 1);
    QCOMPARE(events.order, QByteArray("c"));
    QTcpServer &server = listenOn == connectedTo ? first : second;
    QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QCOMPARE(peer->peerAddress(), QHostAddress(connectedTo));
    QCOMPARE(peer->localAddress(), QHostAddress(connectedTo));
    delete peer;
    QTcpServer &other = &server == &first ? second : first;
    QVERIFY(!other.hasPendingConnections());
    QVERIFY(m_shown.isEmpty());
}

void ClientSocketTest::deactivatingInactiveDoesNothing()
{
    TClientSocket socket;
    Events events;
    attach(socket, events);
    socket.setActive(false);
    socket.Host = QStringLiteral("127.0.0.1");
    socket.Port = m_server.serverPort();
    socket.setActive(false);
    QTest::qWait(100);
    QCOMPARE(events.total(), 0);
    QVERIFY(!socket.Active());
    QVERIFY(m_shown.isEmpty());
}

void ClientSocketTest::cancelPendingAttempt_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("toServer");
    QTest::newRow("lookup under way") << "name.invalid" << false;
    QTest::newRow("connection under way") << "127.0.0.1" << true;
    QTest::newRow("refused connection under way") << "127.0.0.1" << false;
}

// Deactivating an attempt that is still under way drops it without any event.
void ClientSocketTest::cancelPendingAttempt()
{
    QFETCH(QString, host);
    QFETCH(bool, toServer);

    TClientSocket socket;
    Events events;
    attach(socket, events, false);
    socket.Host = host;
    socket.Port = toServer ? m_server.serverPort() : closedPort();
    socket.setActive(true);
    socket.setActive(false);
    QTest::qWait(300);
    QCOMPARE(events.total(), 0);
    QVERIFY(m_shown.isEmpty());
    QVERIFY(!socket.Active());

    // A new attempt is reported once, untouched by the old one.
    QTcpSocket *peer = connectToServer(socket, events);
    QVERIFY(peer);
    QTest::qWait(100);
    QCOMPARE(events.total(), 1);
}

void ClientSocketTest::noEventsAfterDestruction_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("waitForConnection");
    QTest::newRow("lookup under way") << "name.invalid" << false;
    QTest::newRow("connection under way") << "127.0.0.1" << false;
    QTest::newRow("connected") << "127.0.0.1" << true;
}

void ClientSocketTest::noEventsAfterDestruction()
{
    QFETCH(QString, host);
    QFETCH(bool, waitForConnection);

    Events events;
    auto socket = std::make_unique<TClientSocket>();
    attach(*socket, events, false);
    socket->Host = host;
    socket->Port = m_server.serverPort();
    socket->setActive(true);
    if (waitForConnection)
        QTRY_COMPARE(events.connects, 1);
    const int before = events.total();

    socket.reset();
    QTest::qWait(300);
    QCOMPARE(events.total(), before);
    QVERIFY(m_shown.isEmpty());
}

// An exception escaping a handler must not unwind through the event loop.
void ClientSocketTest::handlerFailureGoesToDisplay()
{
    TClientSocket socket;
    Events events;
    attach(socket, events);
    socket.OnConnect = [] { throw std::runtime_error("handler failed"); };
    socket.Host = QStringLiteral("127.0.0.1");
    socket.Port = m_server.serverPort();
    socket.setActive(true);
    QTRY_COMPARE(m_shown, QStringList{QStringLiteral("handler failed")});
    QVERIFY(socket.Active());
}

void ClientSocketTest::descriptorsClosedOnce_data()
{
    QTest::addColumn<Lifetime>("lifetime");
    QTest::newRow("connected, then deactivated") << Lifetime::ConnectedThenDeactivated;
    QTest::newRow("closed by the peer") << Lifetime::PeerClosed;
    QTest::newRow("reset by the peer") << Lifetime::PeerReset;
    QTest::newRow("refused") << Lifetime::Refused;
    QTest::newRow("cancelled while connecting") << Lifetime::CancelledWhileConnecting;
    QTest::newRow("destroyed while connecting") << Lifetime::DestroyedWhileConnecting;
    QTest::newRow("destroyed while connected") << Lifetime::DestroyedWhileConnected;
}

// Every way a socket's life can go leaves as many descriptors open as before, and closes
// none twice: a second close would take the descriptor of another owner that got the
// same number meanwhile.
void ClientSocketTest::descriptorsClosedOnce()
{
    QFETCH(Lifetime, lifetime);

    QVERIFY(runLifetime(lifetime)); // whatever Qt opens once on first use
    const int before = openDescriptors();
    QVERIFY(before > 0);
    QVERIFY(runLifetime(lifetime));
    QCOMPARE(openDescriptors(), before);
}

bool ClientSocketTest::runLifetime(Lifetime lifetime)
{
    Events events;
    auto socket = std::make_unique<TClientSocket>();
    attach(*socket, events, false);
    socket->Host = QStringLiteral("127.0.0.1");
    socket->Port = m_server.serverPort();
    bool ok = true;

    switch (lifetime) {
    case Lifetime::ConnectedThenDeactivated: {
        QTcpSocket *peer = connectToServer(*socket, events);
        ok = peer != nullptr;
        socket->setActive(false);
        delete peer;
        break;
    }
    case Lifetime::PeerClosed:
    case Lifetime::PeerReset: {
        QTcpSocket *peer = connectToServer(*socket, events);
        if (!peer)
            return false;
        if (lifetime == Lifetime::PeerReset)
            resetConnection(peer);
        else
            peer->close();
        ok = QTest::qWaitFor([&] { return events.disconnects == 1; });
        delete peer;
        break;
    }
    case Lifetime::Refused:
        socket->Port = closedPort();
        socket->setActive(true);
        ok = QTest::qWaitFor([&] { return events.disconnects == 1; });
        break;
    case Lifetime::CancelledWhileConnecting:
    case Lifetime::DestroyedWhileConnecting:
        socket->setActive(true);
        QCoreApplication::processEvents(); // the address arrives and the connect starts
        if (lifetime == Lifetime::CancelledWhileConnecting)
            socket->setActive(false);
        socket.reset();
        break;
    case Lifetime::DestroyedWhileConnected:
        ok = connectToServer(*socket, events) != nullptr;
        socket.reset();
        break;
    }
    // Whatever is closed from here on must be the socket's own.
    const Sentinel sentinel;
    socket.reset();
    QTest::qWait(100);
    ok = ok && sentinel.intact();

    // The server's ends of the connections, and whatever was let go of later.
    while (QTcpSocket *peer = m_server.nextPendingConnection())
        delete peer;
    for (QTcpSocket *peer : findChildren<QTcpSocket *>())
        delete peer;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return ok;
}

QTEST_GUILESS_MAIN(ClientSocketTest)
#include "tst_clientsocket.moc"
