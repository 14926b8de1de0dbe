#pragma once

#include <QString>

#include "SystemSockets.h"

#include <functional>
#include <optional>
#include <vector>

class QObject;

namespace qm {

// An IPv4 or IPv6 address as the socket calls take it. A default-made one is of neither
// family and prints as an empty text.
class IpAddress final
{
public:
    IpAddress() = default;

    // Numeric addresses only: dotted IPv4 and IPv6 (with an optional "%scope"), never a
    // name, so nothing is ever asked of a name server.
    static std::optional<IpAddress> fromString(const QString &text);
    // An address as getaddrinfo() and the socket calls hand it out; the port is ignored.
    static std::optional<IpAddress> fromSocketAddress(const sockaddr *address, socklen_t length);

    bool isIPv4() const { return m_address.ss_family == AF_INET; }
    bool isIPv6() const { return m_address.ss_family == AF_INET6; }
    QString toString() const;

    // Fills `out` with this address and `port`; returns the length the socket calls need.
    socklen_t toSocketAddress(quint16 port, sockaddr_storage &out) const;

private:
    sockaddr_storage m_address{};
};

// Host name resolution shared by the echo and the TCP client.
//
// Numeric addresses are taken as they are, without any lookup. The name "invalid" and
// names under ".invalid" are refused at once without asking any name server: that
// domain can never resolve, so asking would only leak the name and cost a timeout.
// An empty name is refused as well.

// True for "invalid" and names ending in ".invalid" (case-insensitive, one trailing dot
// allowed).
bool isReservedInvalidName(const QString &host);

// Blocking lookups for the echo, which blocks its caller anyway. A name server is waited
// for at most `timeoutMs`: past it there is no address, and the lookup is left to finish on
// its own thread. Raises std::system_error when no thread can be started for the lookup.
//
// The first address the lookup gives, IPv4 or IPv6 (an echo to an IPv6 address is an
// ICMPv6 echo).
std::optional<IpAddress> resolveForEcho(const QString &host, int timeoutMs);
// The first IPv4 address, for an echo that speaks IPv4 only.
std::optional<IpAddress> resolveIPv4(const QString &host, int timeoutMs);

struct ResolveResult
{
    std::vector<IpAddress> addresses; // in the order the lookup gives them
    QString error;                    // why there is none
};

using ResolveCallback = std::function<void(const ResolveResult &result)>;

// Asynchronous lookup for a TCP connection. `done` always runs later from the event loop
// of `context`'s thread, never inside this call, and never once `context` is destroyed.
// Returns a lookup id for cancelResolve(), or -1 when no name server is involved (the
// caller ignores late results by itself in that case).
int resolveAsync(const QString &host, QObject *context, ResolveCallback done);

// Drops a lookup started by resolveAsync: its `done` is never run, even when the answer
// is already on its way. The lookup itself runs to its end in the background.
void cancelResolve(int lookupId);

} // namespace qm
