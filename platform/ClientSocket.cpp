#include "platform/ClientSocket.h"

#include "platform/Exceptions.h"
#include "platform/Resolver.h"

#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

namespace qm {

namespace {

// Error codes in the numbering of the Windows socket library, which is what handlers
// written for this kind of client compare against.
int errorCodeOfErrno(int error)
{
    switch (error) {
    case ECONNREFUSED: return 10061;
    case ECONNRESET: return 10054;
    case ECONNABORTED: return 10053;
    case ETIMEDOUT: return 10060;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTCONN: return 10057;
    case EADDRNOTAVAIL: return 10049;
    case EACCES:
    case EPERM: return 10013;
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM: return 10055;
    default: return -1;
    }
}

QString describe(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

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
        if (Host.isEmpty() || Port < 1 || Port > 65535) {
            const std::string message = Host.isEmpty()
                ? std::string("Cannot connect: no host name or address given")
                : QStringLiteral("Cannot connect to %1: port %2 is outside 1..65535")
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
        if (result.address)
            connectTo(*result.address);
        else
            lookupFailed(m_host, result.error);
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

// The connection is made here rather than by a socket class that connects on its own: a
// server that resets a connection before it is seen made must not be taken for a
// connection still under way and tried again. One attempt is one connect(); its outcome
// is read from SO_ERROR.
void TClientSocket::connectTo(const IpAddress &address)
{
    sockaddr_storage storage{};
    const socklen_t length = address.toSocketAddress(quint16(m_port), storage);

    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno;
        attemptFailed(errorCodeOfErrno(error), describe(error));
        return;
    }
    m_fd = fd;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&storage), length) == 0) {
        adopt();
        return;
    }
    if (errno != EINPROGRESS) {
        const int error = errno;
        ::close(std::exchange(m_fd, -1));
        attemptFailed(errorCodeOfErrno(error), describe(error));
        return;
    }
    // Writable means settled, one way or the other.
    watch(false);
}

void TClientSocket::connectionSettled()
{
    stopWatching();
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error != 0) {
        ::close(std::exchange(m_fd, -1));
        attemptFailed(errorCodeOfErrno(error), describe(error));
        return;
    }
    adopt();
}

// From here on only the end of the connection matters, which shows as the socket turning
// readable: what the server sends is read and let go, and a read of nothing is its close.
void TClientSocket::adopt()
{
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
    char buffer[16384];
    for (int round = 0; round < 8; ++round) {
        const ssize_t received = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received > 0)
            continue;
        if (received == 0) {
            peerClosed();
            return;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return;
        // A reset is the peer ending the connection as much as a close is.
        if (error == ECONNRESET) {
            peerClosed();
            return;
        }
        // This failure ends the reports of the connection. When the handler clears the
        // code, Active stays true until setActive(false) closes the socket for good.
        stopWatching();
        reportFailure(errorCodeOfErrno(error), describe(error), true);
        return;
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
    if (m_fd >= 0)
        ::close(std::exchange(m_fd, -1));
}

} // namespace qm
