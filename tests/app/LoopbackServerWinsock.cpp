// The game server made with Winsock, for a Qt without Qt Network. Connections are accepted
// as the event loop turns, as a Qt server's would be.

#include "LoopbackServer.h"

#include <QSocketNotifier>

#include <vector>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace fixture {

namespace {

struct Peer
{
    SOCKET socket = INVALID_SOCKET;
    bool closed = false;
};

// Whether the client closed the connection: what it sent is read and dropped until the
// end (or a reset) shows, or nothing more is there yet.
bool closedNow(Peer &peer)
{
    if (peer.closed)
        return true;
    u_long nonBlocking = 1;
    ::ioctlsocket(peer.socket, FIONBIO, &nonBlocking);
    char buffer[4096];
    for (;;) {
        const int got = ::recv(peer.socket, buffer, int(sizeof buffer), 0);
        if (got > 0)
            continue;
        if (got == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK)
            peer.closed = true;
        return peer.closed;
    }
}

} // namespace

struct LoopbackServer::Data
{
    bool started = false;
    SOCKET listener = INVALID_SOCKET;
    std::unique_ptr<QSocketNotifier> notifier;
    mutable std::vector<Peer> peers;
    quint16 port = 0;
};

LoopbackServer::LoopbackServer()
    : d(std::make_unique<Data>())
{
    WSADATA data;
    d->started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

LoopbackServer::~LoopbackServer()
{
    stopListening();
    for (const Peer &peer : d->peers)
        ::closesocket(peer.socket);
    if (d->started)
        ::WSACleanup();
}

bool LoopbackServer::listen(const QString &address, OnAccept onAccept)
{
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_PASSIVE;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *found = nullptr;
    if (!d->started || ::getaddrinfo(address.toLatin1().constData(), "0", &hints, &found) != 0)
        return false;
    d->listener = ::socket(found->ai_family, SOCK_STREAM, IPPROTO_TCP);
    const bool bound = d->listener != INVALID_SOCKET
        && ::bind(d->listener, found->ai_addr, int(found->ai_addrlen)) == 0 && ::listen(d->listener, 8) == 0;
    ::freeaddrinfo(found);
    sockaddr_storage local{};
    int length = sizeof local;
    if (!bound || ::getsockname(d->listener, reinterpret_cast<sockaddr *>(&local), &length) != 0) {
        stopListening();
        return false;
    }
    d->port = ntohs(local.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6 &>(local).sin6_port
                                                 : reinterpret_cast<const sockaddr_in &>(local).sin_port);

    d->notifier = std::make_unique<QSocketNotifier>(qintptr(d->listener), QSocketNotifier::Read);
    QObject::connect(d->notifier.get(), &QSocketNotifier::activated, d->notifier.get(), [this, onAccept] {
        u_long nonBlocking = 1;
        ::ioctlsocket(d->listener, FIONBIO, &nonBlocking);
        for (;;) {
            const SOCKET peer = ::accept(d->listener, nullptr, nullptr);
            if (peer == INVALID_SOCKET)
                return;
            if (onAccepted)
                onAccepted();
            switch (onAccept) {
            case OnAccept::Keep:
                d->peers.push_back({peer, false});
                break;
            case OnAccept::Close:
                ::shutdown(peer, SD_SEND);
                ::closesocket(peer);
                break;
            case OnAccept::Reset: {
                const linger hard{1, 0};
                ::setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof hard);
                ::closesocket(peer);
                break;
            }
            }
        }
    });
    return true;
}

void LoopbackServer::stopListening()
{
    d->notifier.reset();
    if (d->listener != INVALID_SOCKET) {
        ::closesocket(d->listener);
        d->listener = INVALID_SOCKET;
    }
}

quint16 LoopbackServer::port() const
{
    return d->port;
}

int LoopbackServer::closedByClient() const
{
    int closed = 0;
    for (Peer &peer : d->peers) {
        if (closedNow(peer))
            ++closed;
    }
    return closed;
}

bool LoopbackServer::allClosedByClient() const
{
    return closedByClient() == int(d->peers.size());
}

} // namespace fixture
