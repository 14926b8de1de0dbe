#pragma once

#include <QString>

#include <stdexcept>

namespace qm {

// A failure of the echo facility itself (no socket could be opened, sending failed).
class EchoError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct EchoRequest
{
    QString address; // host name, or IPv4 or IPv6 address
    int size = 56;   // data bytes
    int timeoutMs = 2000;
    int ttl = 64;
    int flags = 0;   // IP header flags (0: fragmentation allowed)
};

// Sends ICMP echo requests, synchronously.
class EchoTransport
{
public:
    virtual ~EchoTransport() = default;

    // Resolves the address (blocking, for at most timeoutMs), sends one echo request and
    // waits at most timeoutMs for the reply. Returns the number of replies (0 or 1). A name
    // that cannot be resolved, or not within timeoutMs, gives 0. Raises EchoError when the
    // facility itself fails.
    virtual int echo(const EchoRequest &request) = 0;
};

// The echo component of the window: properties set beforehand, then a synchronous Ping().
class TPing final
{
public:
    explicit TPing(EchoTransport &transport) : m_transport(transport) {}

    QString Address;
    int Size = 56;
    int Timeout = 2000;
    int TTL = 64;
    int Flags = 0;

    int Ping() { return m_transport.echo({Address, Size, Timeout, TTL, Flags}); }

private:
    EchoTransport &m_transport;
};

} // namespace qm
