#include "platform/ClientSocket.h"

#include "platform/Exceptions.h"
#include "platform/Resolver.h"

#include <QHostAddress>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpSocket>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qm {

namespace {

// Error codes in the numbering of the Windows socket library, which is what handlers
// written for this kind of client compare against.
int errorCodeOf(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return 10061;
    case QAbstractSocket::RemoteHostClosedError: return 10054;
    case QAbstractSocket::HostNotFoundError: return 11001;
    case QAbstractSocket::SocketAccessError: return 10013;
    case QAbstractSocket::SocketResourceError: return 10055;
    case QAbstractSocket::SocketTimeoutError: return 10060;
    case QAbstractSocket::NetworkError: return 10051;
    case QAbstractSocket::AddressInUseError: return 10048;
    case QAbstractSocket::SocketAddressNotAvailableError: return 10049;
    case QAbstractSocket::UnsupportedSocketOperationError: return 10045;
    default: return -1;
    }
}

// The same numbering for what connect() reports.
int errorCodeOfErrno(int error)
{
    switch (error) {
    case ECONNREFUSED: return 10061;
    case ECONNRESET: return 10054;
    case ETIMEDOUT: return 10060;
    case ENETUNREACH: return 10051;
    case EHOSTUNREACH: return 10065;
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

// The connection is made here rather than by QTcpSocket::connectToHost: when a server
// resets a connection before Qt has seen it made, Qt 6.4 takes the reset for a connection
// still under way and connects again, thousands of times a second, until its own timeout.
// One attempt is one connect(); its outcome is read from SO_ERROR.
void TClientSocket::connectTo(const QHostAddress &address)
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(quint16(m_port));
        const Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
        in6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof(sockaddr_in6);
    } else {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(quint16(m_port));
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof(sockaddr_in);
    }

    const int fd = ::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int error = errno;
        attemptFailed(errorCodeOfErrno(error), QString::fromLocal8Bit(std::strerror(error)));
        return;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&storage), length) == 0) {
        adopt(fd);
        return;
    }
    if (errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        attemptFailed(errorCodeOfErrno(error), QString::fromLocal8Bit(std::strerror(error)));
        return;
    }
    m_connectingFd = fd;
    m_connecting = new QSocketNotifier(qintptr(fd), QSocketNotifier::Write, this);
    connect(m_connecting, &QSocketNotifier::activated, this, &TClientSocket::connectionSettled);
}

void TClientSocket::connectionSettled()
{
    const int fd = std::exchange(m_connectingFd, -1);
    m_connecting->setEnabled(false);
    m_connecting->deleteLater();
    m_connecting = nullptr;

    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    if (error != 0) {
        ::close(fd);
        attemptFailed(errorCodeOfErrno(error), QString::fromLocal8Bit(std::strerror(error)));
        return;
    }
    adopt(fd);
}

// Hands a made connection to Qt's socket, which reports its end.
void TClientSocket::adopt(int fd)
{
    m_socket = new QTcpSocket;
    if (!m_socket->setSocketDescriptor(fd, QAbstractSocket::ConnectedState)) {
        ::close(fd);
        const QString reason = m_socket->errorString();
        discardSocket();
        attemptFailed(errorCodeOf(QAbstractSocket::SocketResourceError), reason);
        return;
    }
    connect(m_socket, &QTcpSocket::disconnected, this, &TClientSocket::handleDisconnected);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &TClientSocket::handleError);
    m_pending = false;
    m_active = true;
    callHandler(OnConnect);
}

void TClientSocket::attemptFailed(int code, const QString &reason)
{
    // A failed attempt leaves the client ready to be activated again, from the handler too.
    m_pending = false;
    reportFailure(code, reason, false);
}

void TClientSocket::handleDisconnected()
{
    if (!m_active)
        return;
    ++m_generation;
    discardSocket();
    m_active = false;
    callHandler(OnDisconnect);
}

void TClientSocket::handleError()
{
    QTcpSocket *socket = m_socket;
    if (!socket || !m_active)
        return;
    const QAbstractSocket::SocketError error = socket->error();
    // The peer closing the connection is no failure; the disconnected signal that follows
    // reports it.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    // This failure ends the reports of the connection. When the handler clears the code,
    // Active stays true until setActive(false) closes the socket for good.
    socket->disconnect(this);
    reportFailure(errorCodeOf(error), socket->errorString(), true);
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
    if (m_connecting) {
        m_connecting->setEnabled(false);
        m_connecting->deleteLater();
        m_connecting = nullptr;
        ::close(std::exchange(m_connectingFd, -1));
    }
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace qm
