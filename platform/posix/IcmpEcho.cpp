#include "platform/posix/IcmpEcho.h"

#include "platform/net/Resolver.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/icmp6.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

namespace qm {

namespace {

constexpr int IcmpHeaderSize = 8;
// The largest echo payloads: an IPv4 datagram's length counts its header (up to 60 bytes),
// an IPv6 packet's payload length does not.
constexpr int MaxDataSize = 65535 - 60 - IcmpHeaderSize;
constexpr int MaxDataSize6 = 65535 - IcmpHeaderSize;
constexpr int DontFragmentFlag = 0x2; // in the 3-bit flags field of the IP header

std::string systemError(const char *what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

class SocketHandle final
{
public:
    SocketHandle() = default;
    SocketHandle(int fd, bool raw) : m_fd(fd), m_raw(raw) {}
    SocketHandle(const SocketHandle &) = delete;
    SocketHandle &operator=(const SocketHandle &) = delete;
    ~SocketHandle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    int fd() const { return m_fd; }
    bool raw() const { return m_raw; }

private:
    int m_fd = -1;
    bool m_raw = false;
};

// The echo's protocol for one address family: ICMP for IPv4, ICMPv6 for IPv6.
struct Protocol
{
    int family;
    int protocol;
    unsigned char requestType;
    unsigned char replyType;
    const char *name;
};

const Protocol Icmp4{AF_INET, IPPROTO_ICMP, ICMP_ECHO, ICMP_ECHOREPLY, "ICMP"};
const Protocol Icmp6{AF_INET6, IPPROTO_ICMPV6, ICMP6_ECHO_REQUEST, ICMP6_ECHO_REPLY, "ICMPv6"};

// The datagram kind first: it needs no privilege and the kernel routes only our own
// replies to it. The raw kind sees every ICMP packet of the machine.
int openIcmpSocket(const Protocol &protocol, bool &raw)
{
    int fd = ::socket(protocol.family, SOCK_DGRAM | SOCK_CLOEXEC, protocol.protocol);
    if (fd >= 0) {
        raw = false;
        return fd;
    }
    const int datagramError = errno;

    fd = ::socket(protocol.family, SOCK_RAW | SOCK_CLOEXEC, protocol.protocol);
    if (fd >= 0) {
        raw = true;
        // Let only echo replies through; the checks below stay, the filters only save work.
        if (protocol.family == AF_INET6) {
            icmp6_filter filter{};
            ICMP6_FILTER_SETBLOCKALL(&filter);
            ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
            ::setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
        } else {
#ifdef ICMP_FILTER
            icmp_filter filter{};
            filter.data = ~(1U << ICMP_ECHOREPLY);
            ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
#endif
        }
        return fd;
    }
    const int rawError = errno;

    throw EchoError("Cannot send " + std::string(protocol.name) + " echo requests: this system permits "
                    "neither an unprivileged " + protocol.name + " socket (" + std::strerror(datagramError)
                    + "; see net.ipv4.ping_group_range) nor a raw " + protocol.name + " socket ("
                    + std::strerror(rawError) + "; needs root or CAP_NET_RAW)");
}

void setOption(int fd, int level, int name, int value, const char *what)
{
    if (::setsockopt(fd, level, name, &value, sizeof value) != 0)
        throw EchoError(systemError(what, errno));
}

quint16 checksum(const QByteArray &data)
{
    quint32 sum = 0;
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    const int size = data.size();
    for (int i = 0; i + 1 < size; i += 2)
        sum += quint32(bytes[i]) << 8 | bytes[i + 1];
    if (size % 2)
        sum += quint32(bytes[size - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

// The system fills in the checksum of an ICMPv6 request itself: it covers the IPv6
// addresses, which only the system knows for sure.
QByteArray echoRequest(const Protocol &protocol, quint16 identifier, quint16 sequence, int dataSize)
{
    QByteArray packet(IcmpHeaderSize + dataSize, '\0');
    auto *bytes = reinterpret_cast<unsigned char *>(packet.data());
    bytes[0] = protocol.requestType;
    bytes[1] = 0;
    bytes[4] = identifier >> 8;
    bytes[5] = identifier & 0xFF;
    bytes[6] = sequence >> 8;
    bytes[7] = sequence & 0xFF;
    // Counting bytes make the requests easy to recognise in a packet capture.
    for (int i = 0; i < dataSize; ++i)
        bytes[IcmpHeaderSize + i] = static_cast<unsigned char>(i);
    if (protocol.family == AF_INET6)
        return packet;
    const quint16 sum = checksum(packet);
    bytes[2] = sum >> 8;
    bytes[3] = sum & 0xFF;
    return packet;
}

quint16 nextSequence()
{
    static std::atomic<quint16> sequence{0};
    return ++sequence;
}

// Errors meaning that the target cannot be reached: the echo simply gets no reply.
bool isUnreachable(int error)
{
    switch (error) {
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETDOWN:
    case ECONNREFUSED:
    case EADDRNOTAVAIL: // no address of ours can reach it (IPv6 without a route)
    case EMSGSIZE: // too big for the path with "don't fragment" set
        return true;
    default:
        return false;
    }
}

} // namespace

int IcmpEcho::echo(const EchoRequest &request)
{
    // The lookup gets the echo's own time limit: a name server that does not answer is a
    // target that does not answer.
    std::optional<IpAddress> target;
    try {
        target = resolveForEcho(request.address, request.timeoutMs);
    } catch (const std::system_error &e) {
        throw EchoError(std::string("Cannot look the echo's target up: ") + e.what());
    }
    if (!target)
        return 0;
    const Protocol &protocol = target->isIPv6() ? Icmp6 : Icmp4;
    const int maxDataSize = target->isIPv6() ? MaxDataSize6 : MaxDataSize;
    if (request.size < 0 || request.size > maxDataSize)
        throw EchoError("ICMP echo data size " + std::to_string(request.size)
                        + " is outside 0.." + std::to_string(maxDataSize));

    bool raw = false;
    const int fd = openIcmpSocket(protocol, raw);
    const SocketHandle socket(fd, raw);

    if (target->isIPv6()) {
        setOption(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, request.ttl, "Cannot set the ICMPv6 hop limit");
        setOption(fd, IPPROTO_IPV6, IPV6_MTU_DISCOVER,
                  (request.flags & DontFragmentFlag) ? IPV6_PMTUDISC_DO : IPV6_PMTUDISC_DONT,
                  "Cannot set the ICMPv6 fragmentation flag");
    } else {
        setOption(fd, IPPROTO_IP, IP_TTL, request.ttl, "Cannot set the ICMP time-to-live");
        setOption(fd, IPPROTO_IP, IP_MTU_DISCOVER,
                  (request.flags & DontFragmentFlag) ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT,
                  "Cannot set the ICMP fragmentation flag");
    }

    sockaddr_storage to{};
    const socklen_t toLength = target->toSocketAddress(0, to);

    // On a datagram socket the kernel writes its own identifier into the request (the
    // socket's local "port"); on a raw one the identifier is ours to choose.
    const quint16 sequence = nextSequence();
    quint16 identifier = raw ? quint16(::getpid() & 0xFFFF) : 0;
    const QByteArray packet = echoRequest(protocol, identifier, sequence, request.size);

    if (::sendto(fd, packet.constData(), size_t(packet.size()), 0,
                 reinterpret_cast<const sockaddr *>(&to), toLength) < 0) {
        if (isUnreachable(errno))
            return 0;
        throw EchoError(systemError("Cannot send the ICMP echo request", errno));
    }

    if (!raw) {
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0)
            throw EchoError(systemError("Cannot read the ICMP echo identifier", errno));
        identifier = ntohs(target->isIPv6() ? reinterpret_cast<const sockaddr_in6 *>(&local)->sin6_port
                                            : reinterpret_cast<const sockaddr_in *>(&local)->sin_port);
    }

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, request.timeoutMs));
    std::vector<unsigned char> buffer(65536);

    for (;;) {
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (remaining.count() <= 0)
            return 0;

        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, int(std::min<long long>(remaining.count(), 1 << 30)));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            throw EchoError(systemError("Cannot wait for the ICMP echo reply", errno));
        }
        if (ready == 0)
            return 0;

        const ssize_t received = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
                continue;
            if (isUnreachable(errno))
                return 0;
            throw EchoError(systemError("Cannot receive the ICMP echo reply", errno));
        }

        // A raw IPv4 socket delivers the IP header as well; the others only the ICMP part.
        size_t offset = 0;
        if (raw && !target->isIPv6()) {
            if (received < 20)
                continue;
            offset = size_t(buffer[0] & 0x0F) * 4;
        }
        if (size_t(received) < offset + IcmpHeaderSize)
            continue;

        const unsigned char *icmp = buffer.data() + offset;
        // Our own request seen on loopback is a request; errors and others' traffic differ too.
        if (icmp[0] != protocol.replyType)
            continue;
        const quint16 replyIdentifier = quint16(icmp[4] << 8 | icmp[5]);
        const quint16 replySequence = quint16(icmp[6] << 8 | icmp[7]);
        if (replyIdentifier == identifier && replySequence == sequence)
            return 1;
    }
}

} // namespace qm
