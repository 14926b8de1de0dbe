#pragma once

#include <QHostAddress>
#include <QString>

#include <functional>
#include <optional>

class QObject;

namespace qm {

// Host name resolution shared by the echo and the TCP client.
//
// Numeric addresses are taken as they are, without any lookup. The name "invalid" and
// names under ".invalid" are refused at once without asking any name server: that
// domain can never resolve, so asking would only leak the name and cost a timeout.
// An empty name is refused as well.

// True for "invalid" and names ending in ".invalid" (case-insensitive, one trailing dot
// allowed).
bool isReservedInvalidName(const QString &host);

// Blocking lookup of an IPv4 address (the echo needs one).
std::optional<QHostAddress> resolveIPv4(const QString &host);

struct ResolveResult
{
    std::optional<QHostAddress> address; // IPv4 preferred, IPv6 when that is all there is
    QString error;                       // why there is no address
};

using ResolveCallback = std::function<void(const ResolveResult &result)>;

// Asynchronous lookup for a TCP connection. `done` always runs later from the event loop
// of `context`'s thread, never inside this call, and never once `context` is destroyed.
// Returns a lookup id for cancelResolve(), or -1 when no name server is involved (the
// caller ignores late results by itself in that case).
int resolveAsync(const QString &host, QObject *context, ResolveCallback done);

// Stops a lookup started by resolveAsync where that is still possible. A result that is
// already on its way may still arrive, so callers recognise stale results themselves.
void cancelResolve(int lookupId);

} // namespace qm
