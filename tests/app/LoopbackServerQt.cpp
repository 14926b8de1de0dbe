// The game server made with Qt Network, on systems whose Qt has it.

#include "LoopbackServer.h"

#include <QHostAddress>
#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/socket.h>

namespace fixture {

struct LoopbackServer::Data
{
    QTcpServer server;
    QList<QPointer<QTcpSocket>> peers;
    quint16 port = 0;
};

LoopbackServer::LoopbackServer()
    : d(std::make_unique<Data>())
{
}

LoopbackServer::~LoopbackServer() = default;

bool LoopbackServer::listen(const QString &address, OnAccept onAccept)
{
    if (!d->server.listen(QHostAddress(address), 0))
        return false;
    d->port = d->server.serverPort();
    QObject::connect(&d->server, &QTcpServer::newConnection, &d->server, [this, onAccept] {
        while (QTcpSocket *peer = d->server.nextPendingConnection()) {
            if (onAccepted)
                onAccepted();
            switch (onAccept) {
            case OnAccept::Keep:
                d->peers.append(peer);
                break;
            case OnAccept::Close:
                peer->disconnectFromHost();
                break;
            case OnAccept::Reset: {
                const linger hard{1, 0};
                ::setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                peer->abort();
                peer->deleteLater();
                break;
            }
            }
        }
    });
    return true;
}

void LoopbackServer::stopListening()
{
    d->server.close();
}

quint16 LoopbackServer::port() const
{
    return d->port;
}

int LoopbackServer::closedByClient() const
{
    int closed = 0;
    for (const QPointer<QTcpSocket> &peer : d->peers) {
        if (!peer || peer->state() != QAbstractSocket::ConnectedState)
            ++closed;
    }
    return closed;
}

bool LoopbackServer::allClosedByClient() const
{
    for (const QPointer<QTcpSocket> &peer : d->peers) {
        if (peer && peer->state() == QAbstractSocket::ConnectedState && peer->bytesAvailable() == 0
            && !peer->waitForDisconnected(0))
            return false;
    }
    return true;
}

} // namespace fixture
