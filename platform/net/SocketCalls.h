#pragma once

// The few socket calls the TCP client makes, one implementation per system. Errors are
// the system's own numbers; errorCode() turns them into the numbering of the Windows
// socket library, which is what handlers written for this kind of client compare against.

#include "SystemSockets.h"

#include <QString>

namespace qm::net {

using Socket = qintptr;
constexpr Socket NoSocket = -1;

// Makes the system's socket library ready, where it needs that; any number of calls.
void startSockets();

// A TCP socket that never blocks; NoSocket, with `error` set, when none can be made.
Socket openStreamSocket(int family, int &error);

enum class ConnectStart { Made, UnderWay, Failed };
ConnectStart startConnect(Socket socket, const sockaddr *address, socklen_t length, int &error);

// True once a connection under way has been made or has failed, without waiting.
bool hasSettled(Socket socket);
// How a connection under way settled: 0 when made, else why it failed.
int settledError(Socket socket);

// True when `error`, as settledError() gives it, can only come from a connection that was
// made: the handshake completed and the peer reset it before it was seen made. Any other
// error is an attempt that failed.
bool endedAfterMade(int error);

enum class Received { Data, Closed, NothingYet, Reset, Failed };
// Reads what the peer sent and lets it go.
Received receive(Socket socket, int &error);

void closeSocket(Socket socket);

int errorCode(int error);
QString describe(int error);
// Why a name lookup (getaddrinfo) failed.
QString describeLookupFailure(int status);

} // namespace qm::net
