#include "platform/net/SocketCalls.h"

#include <mutex>

namespace qm::net {

void startSockets()
{
    // The socket library is started once per process and left running until it ends.
    static std::once_flag started;
    std::call_once(started, [] {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    });
}

Socket openStreamSocket(int family, int &error)
{
    startSockets();
    const SOCKET socket = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) {
        error = ::WSAGetLastError();
        return NoSocket;
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
        error = ::WSAGetLastError();
        ::closesocket(socket);
        return NoSocket;
    }
    ::SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    error = 0;
    return Socket(socket);
}

ConnectStart startConnect(Socket socket, const sockaddr *address, socklen_t length, int &error)
{
    if (::connect(SOCKET(socket), address, length) == 0)
        return ConnectStart::Made;
    error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK ? ConnectStart::UnderWay : ConnectStart::Failed;
}

bool hasSettled(Socket socket)
{
    // A made connection shows as writable, a failed one as an exception.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(SOCKET(socket), &writable);
    FD_SET(SOCKET(socket), &failed);
    timeval now{0, 0};
    return ::select(0, nullptr, &writable, &failed, &now) > 0;
}

int settledError(Socket socket)
{
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(SOCKET(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &size) != 0)
        error = ::WSAGetLastError();
    return error;
}

// A reset before the handshake is WSAECONNREFUSED; a reset or an abort come only once
// the connection was made.
bool endedAfterMade(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED;
}

Received receive(Socket socket, int &error)
{
    char buffer[16384];
    const int received = ::recv(SOCKET(socket), buffer, sizeof buffer, 0);
    if (received > 0)
        return Received::Data;
    if (received == 0)
        return Received::Closed;
    error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK)
        return Received::NothingYet;
    return error == WSAECONNRESET || error == WSAECONNABORTED ? Received::Reset : Received::Failed;
}

void closeSocket(Socket socket)
{
    ::closesocket(SOCKET(socket));
}

// The system's numbers are already those of the Windows socket library.
int errorCode(int error)
{
    return error;
}

QString describe(int error)
{
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(error), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString result = length ? QString::fromWCharArray(text, int(length)).trimmed()
                            : QStringLiteral("Windows socket error %1").arg(error);
    ::LocalFree(text);
    return result;
}

QString describeLookupFailure(int status)
{
    return describe(status);
}

} // namespace qm::net
