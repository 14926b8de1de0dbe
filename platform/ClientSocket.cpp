#include "platform/ClientSocket.h"

#include "platform/Exceptions.h"
#include "platform/Resolver.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpSocket>

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

void TClientSocket::connectTo(const QHostAddress &address)
{
    m_socket = new QTcpSocket;
    connect(m_socket, &QTcpSocket::connected, this, &TClientSocket::handleConnected);
    connect(m_socket, &QTcpSocket::disconnected, this, &TClientSocket::handleDisconnected);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &TClientSocket::handleError);
    m_socket->connectToHost(address, quint16(m_port));
}

void TClientSocket::handleConnected()
{
    m_pending = false;
    m_active = true;
    callHandler(OnConnect);
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
    if (!socket)
        return;
    const QAbstractSocket::SocketError error = socket->error();
    // The peer closing an open connection is no failure; the disconnected signal that
    // follows reports it.
    if (m_active && error == QAbstractSocket::RemoteHostClosedError)
        return;

    int code = errorCodeOf(error);
    const QString message =
        QStringLiteral("Socket error %1 with %2 port %3: %4")
            .arg(QString::number(code), m_host, QString::number(m_port), socket->errorString());
    const bool wasActive = m_active;
    if (wasActive) {
        // This failure ends the reports of the connection. When the handler clears the
        // code, Active stays true until setActive(false) closes the socket for good.
        socket->disconnect(this);
    } else {
        // A failed attempt leaves the client ready to be activated again, from the
        // handler too.
        discardSocket();
        m_pending = false;
    }
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
    if (!m_socket)
        return;
    QTcpSocket *socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace qm
