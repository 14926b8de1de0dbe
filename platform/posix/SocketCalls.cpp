#include "platform/net/SocketCalls.h"

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <unistd.h>

namespace qm::net {

void startSockets() {}

Socket openStreamSocket(int family, int &error)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    error = fd < 0 ? errno : 0;
    return fd < 0 ? NoSocket : Socket(fd);
}

ConnectStart startConnect(Socket socket, const sockaddr *address, socklen_t length, int &error)
{
    if (::connect(int(socket), address, length) == 0)
        return ConnectStart::Made;
    error = errno;
    return error == EINPROGRESS ? ConnectStart::UnderWay : ConnectStart::Failed;
}

bool hasSettled(Socket socket)
{
    pollfd watched{int(socket), POLLOUT, 0};
    return ::poll(&watched, 1, 0) == 1 && watched.revents != 0;
}

int settledError(Socket socket)
{
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(int(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        error = errno;
    return error;
}

// A reset in SYN_SENT is ECONNREFUSED; ECONNRESET, and EPIPE for a peer that closed and
// then reset, come only once the connection was established.
bool endedAfterMade(int error)
{
    return error == ECONNRESET || error == EPIPE;
}

Received receive(Socket socket, int &error)
{
    char buffer[16384];
    for (;;) {
        const ssize_t received = ::recv(int(socket), buffer, sizeof buffer, MSG_DONTWAIT);
        if (received > 0)
            return Received::Data;
        if (received == 0)
            return Received::Closed;
        error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return Received::NothingYet;
        return error == ECONNRESET ? Received::Reset : Received::Failed;
    }
}

void closeSocket(Socket socket)
{
    ::close(int(socket));
}

int errorCode(int error)
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

QString describeLookupFailure(int status)
{
    return QString::fromLocal8Bit(::gai_strerror(status));
}

} // namespace qm::net
