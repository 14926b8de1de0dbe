#pragma once

#include "platform/Echo.h"

namespace qm {

// ICMP echo through the system's own sockets, never an external program.
//
// Uses an unprivileged ICMP datagram socket where the system allows it (the group range
// in net.ipv4.ping_group_range), else a raw ICMP socket (root or CAP_NET_RAW). When
// neither can be opened, echo() raises EchoError. Each call opens and closes its own
// socket, so calls are independent and can run on any thread.
class IcmpEcho final : public EchoTransport
{
public:
    int echo(const EchoRequest &request) override;
};

} // namespace qm
