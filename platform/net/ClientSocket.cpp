#include "platform/ClientSocket.h"

#include "platform/Exceptions.h"
#include "platform/net/Resolver.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>

#include "platform/net/SocketCalls.h"

#include <utility>

namespace qm {

namespace {

void callHandler(const std::function<void()> &handler)
{
    // Events come from the event loop: whatever a handler throws goes to the exception
    // display instead of unwinding through Qt.
    if (handler)
        guarded(handler);
}

} // namespace

TClientSocket::TClientSocket(QObject *parent) : QObject(parent) {}

TClientSocket::~TClientSocket()
{
    ++m_generation;
    cancelResolve(m_lookupId);
    discardSocket();
}

bool TClientSocket::Active() const
{
    return m_active;
}

// setActive(true) while an attempt is under way or a connection is open changes nothing:
// the attempt already in progress stands.
//
// setActive(false) without an open connection cancels an attempt still under way (name
// lookup or connection) quietly: no event of that attempt is reported afterwards, and the
// socket can be activated again at once. Reporting a disconnect for a connection that was
// never made would tell the program that something closed which it never saw open.
void TClientSocket::setActive(bool active)
{
    if (active) {
        if (m_active || m_pending)
            return;
        // Port 0 is a port like any other: the system refuses it as it would any closed one.
        if (Host.isEmpty() || Port < 0 || Port > 65535) {
            const std::string message = Host.isEmpty()
                ? std::string("Cannot connect: no host name or address given")
                : QStringLiteral("Cannot connect to %1: port %2 is outside 0..65535")
                      .arg(Host, QString::number(Port))
                      .toStdString();
            if (OnDisconnect)
                OnDisconnect();
            throw SocketError(message);
        }
        startAttempt();
        return;
    }

    if (m_active) {
        ++m_generation;
        discardSocket();
        m_active = false;
        if (OnDisconnect)
            OnDisconnect();
    } else if (m_pending) {
        ++m_generation;
        cancelResolve(m_lookupId);
        m_lookupId = -1;
        discardSocket();
        m_addresses.clear();
        m_pending = false;
    }
}

void TClientSocket::startAttempt()
{
    m_host = Host;
    m_port = Port;
    m_pending = true;
    const quint64 generation = ++m_generation;
    m_lookupId = resolveAsync(m_host, this, [this, generation](const ResolveResult &result) {
        if (generation != m_generation)
            return;
        m_lookupId = -1;
        if (result.addresses.empty()) {
            lookupFailed(m_host, result.error);
            return;
        }
        m_addresses = result.addresses;
        connectToNext();
    });
}

void TClientSocket::lookupFailed(const QString &host, const QString &reason)
{
    m_pending = false;
    ++m_generation;
    callHandler(OnDisconnect);
    // The display is the application's: it gets the failure even if a handler has
    // destroyed this socket meanwhile.
    showException(QStringLiteral("Host %1 not found: %2").arg(host, reason));
}

// Tries the addresses left, in order, until a connection is under way or made. When none
// is left, the attempt has failed with what the last address gave.
void TClientSocket::connectToNext()
{
    int error = 0;
    while (!m_addresses.empty()) {
        const IpAddress address = m_addresses.front();
        m_addresses.erase(m_addresses.begin());
        if (connectTo(address, error))
            return;
    }
    attemptFailed(net::errorCode(error), net::describe(error));
}

// The connection is made here rather than by a socket class that connects on its own: a
// server that resets a connection before it is seen made must not be taken for a
// connection still under way and tried again. One address is one connect(); its outcome
// is read from SO_ERROR. False, with `error` set, when this address failed at once.
bool TClientSocket::connectTo(const IpAddress &address, int &error)
{
    sockaddr_storage storage{};
    const socklen_t length = address.toSocketAddress(quint16(m_port), storage);

    const net::Socket socket = net::openStreamSocket(storage.ss_family, error);
    if (socket == net::NoSocket)
        return false;
    m_fd = socket;
    switch (net::startConnect(socket, reinterpret_cast<const sockaddr *>(&storage), length, error)) {
    case net::ConnectStart::Made:
        adopt();
        return true;
    case net::ConnectStart::Failed:
        net::closeSocket(std::exchange(m_fd, net::NoSocket));
        return false;
    case net::ConnectStart::UnderWay:
        break;
    }
    // Writable means settled, one way or the other.
    watch(false);
    return true;
}

void TClientSocket::connectionSettled()
{
    stopWatching();
    const int error = net::settledError(m_fd);
    if (error == 0) {
        adopt();
        return;
    }
    if (net::endedAfterMade(error)) {
        madeThenEnded();
        return;
    }
    net::closeSocket(std::exchange(m_fd, net::NoSocket));
    if (m_addresses.empty()) {
        attemptFailed(net::errorCode(error), net::describe(error));
        return;
    }
    connectToNext();
}

// The handshake completed and the server reset the connection before this client looked:
// a connection made, then closed by the peer, and reported in that order. Nothing is
// tried again: the server was reached.
void TClientSocket::madeThenEnded()
{
    net::closeSocket(std::exchange(m_fd, net::NoSocket));
    m_addresses.clear();
    m_pending = false;
    m_active = true;
    const quint64 generation = ++m_generation;
    QPointer<TClientSocket> self(this);
    callHandler(OnConnect);
    // The handler may have closed or destroyed the socket, or started anew.
    if (!self || generation != m_generation)
        return;
    peerClosed();
}

// From here on only the end of the connection matters, which shows as the socket turning
// readable: what the server sends is read and let go, and a read of nothing is its close.
void TClientSocket::adopt()
{
    m_addresses.clear();
    m_pending = false;
    m_active = true;
    watch(true);
    callHandler(OnConnect);
}

void TClientSocket::watch(bool forReading)
{
    auto *notifier = new QSocketNotifier(qintptr(m_fd),
                                         forReading ? QSocketNotifier::Read : QSocketNotifier::Write, this);
    m_notifier = notifier;
    connect(notifier, &QSocketNotifier::activated, this, [this, notifier, forReading] {
        // A notifier that was let go of in this round of the event loop stays silent.
        if (notifier != m_notifier)
            return;
        if (forReading)
            readable();
        else
            connectionSettled();
    });
    if (!forReading) {
        // Wine's socket layer may never report an attempt that failed before the notifier
        // was set up (a refused port on this machine): look at the attempt now and then as
        // well. The look ends with the notifier it belongs to.
        auto *look = new QTimer(notifier);
        connect(look, &QTimer::timeout, this, [this, notifier] {
            if (notifier == m_notifier && net::hasSettled(m_fd))
                connectionSettled();
        });
        look->start(50);
    }
}

// Called from the notifier's own signal too, so the notifier is deleted later.
void TClientSocket::stopWatching()
{
    if (!m_notifier)
        return;
    m_notifier->setEnabled(false);
    m_notifier->deleteLater();
    m_notifier = nullptr;
}

void TClientSocket::readable()
{
    // A server that sends without pause gets a bounded share of each turn of the event
    // loop; the notifier comes back for the rest.
    for (int round = 0; round < 8; ++round) {
        int error = 0;
        switch (net::receive(m_fd, error)) {
        case net::Received::Data:
            continue;
        case net::Received::NothingYet:
            return;
        // A reset is the peer ending the connection as much as a close is.
        case net::Received::Closed:
        case net::Received::Reset:
            peerClosed();
            return;
        case net::Received::Failed:
            // This failure ends the reports of the connection. When the handler clears
            // the code, Active stays true until setActive(false) closes the socket for good.
            stopWatching();
            reportFailure(net::errorCode(error), net::describe(error), true);
            return;
        }
    }
}

void TClientSocket::attemptFailed(int code, const QString &reason)
{
    // A failed attempt leaves the client ready to be activated again, from the handler too.
    m_pending = false;
    reportFailure(code, reason, false);
}

void TClientSocket::peerClosed()
{
    if (!m_active)
        return;
    ++m_generation;
    discardSocket();
    m_active = false;
    callHandler(OnDisconnect);
}

void TClientSocket::reportFailure(int code, const QString &reason, bool wasActive)
{
    const QString message = QStringLiteral("Socket error %1 with %2 port %3: %4")
                                .arg(QString::number(code), m_host, QString::number(m_port), reason);
    const quint64 generation = ++m_generation;

    QPointer<TClientSocket> self(this);
    if (OnError)
        guarded([&] { OnError(code); });
    if (!self || generation != m_generation || code == 0)
        return;

    showException(SocketError(message.toStdString()));
    if (!self || generation != m_generation)
        return;
    ++m_generation;
    if (wasActive) {
        discardSocket();
        m_active = false;
    }
    callHandler(OnDisconnect);
}

void TClientSocket::discardSocket()
{
    stopWatching();
    if (m_fd != net::NoSocket)
        net::closeSocket(std::exchange(m_fd, net::NoSocket));
}

} // namespace qm
