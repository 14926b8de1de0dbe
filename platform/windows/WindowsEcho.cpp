#include "platform/windows/WindowsEcho.h"

#include "platform/net/Resolver.h"

#include <icmpapi.h>

#include <string>
#include <vector>

namespace qm {

namespace {

class EchoHandle final
{
public:
    EchoHandle() : m_handle(::IcmpCreateFile()) {}
    ~EchoHandle()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            ::IcmpCloseHandle(m_handle);
    }
    EchoHandle(const EchoHandle &) = delete;
    EchoHandle &operator=(const EchoHandle &) = delete;
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

} // namespace

int WindowsEcho::echo(const EchoRequest &request)
{
    const std::optional<IpAddress> address = resolveIPv4(request.address, request.timeoutMs);
    if (!address)
        return 0;
    sockaddr_storage storage{};
    address->toSocketAddress(0, storage);
    const IPAddr destination = reinterpret_cast<const sockaddr_in *>(&storage)->sin_addr.s_addr;

    const EchoHandle handle;
    if (handle.get() == INVALID_HANDLE_VALUE)
        throw EchoError("IcmpCreateFile failed: error " + std::to_string(::GetLastError()));

    const WORD size = WORD(qBound(0, request.size, 65500));
    std::vector<char> data(size, 'E');
    IP_OPTION_INFORMATION options{};
    options.Ttl = UCHAR(qBound(1, request.ttl, 255));
    options.Flags = UCHAR(request.flags);
    // Room for one reply with its data, and for an ICMP error that quotes the request.
    std::vector<char> reply(sizeof(ICMP_ECHO_REPLY) + size + 8 + 64);
    const DWORD replies = ::IcmpSendEcho(handle.get(), destination, data.data(), size, &options, reply.data(),
                                         DWORD(reply.size()), DWORD(qMax(0, request.timeoutMs)));
    if (replies == 0)
        return 0;
    // Only an echo reply counts: an ICMP error about the request is no answer from the host.
    const auto *first = reinterpret_cast<const ICMP_ECHO_REPLY *>(reply.data());
    return first->Status == IP_SUCCESS ? 1 : 0;
}

} // namespace qm
