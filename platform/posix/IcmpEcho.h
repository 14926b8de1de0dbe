#pragma once

#include "platform/Echo.h"

namespace qm {

// ICMP echo through the system's own sockets, never an external program: ICMP to an IPv4
// address, ICMPv6 to an IPv6 one. A name is looked up for at most the request's timeout, and
// its first address is the target.
//
// Uses an unprivileged ICMP datagram socket where the system allows it (the group range
// in net.ipv4.ping_group_range, which covers ICMPv6 too), else a raw ICMP socket (root or
// CAP_NET_RAW). When neither can be opened, echo() raises EchoError. Each call opens and closes its own
// socket, so calls are independent and can run on any thread.
class IcmpEcho final : public EchoTransport
{
public:
    int echo(const EchoRequest &request) override;
};

} // namespace qm
