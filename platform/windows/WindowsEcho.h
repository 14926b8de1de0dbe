#pragma once

#include "platform/Echo.h"

namespace qm {

// ICMP echo through the system's echo service (IcmpSendEcho), which needs no privilege.
class WindowsEcho final : public EchoTransport
{
public:
    int echo(const EchoRequest &request) override;
};

} // namespace qm
