#include "platform/posix/IcmpEcho.h"

#include "platform/net/Resolver.h"

#include <QByteArray>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/ip.h>
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
#include <vector>

namespace qm {

namespace {

constexpr int IcmpHeaderSize = 8;
constexpr int MaxDataSize = 65535 - 60 - IcmpHeaderSize; // the largest IPv4 datagram's payload
constexpr int DontFragmentFlag = 0x2;                    // in the 3-bit flags field of the IP header

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

// The datagram kind first: it needs no privilege and the kernel routes only our own
// replies to it. The raw kind sees every ICMP packet of the machine.
int openIcmpSocket(bool &raw)
{
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        raw = false;
        return fd;
    }
    const int datagramError = errno;

    fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd >= 0) {
        raw = true;
#ifdef ICMP_FILTER
        // Let only echo replies through; the checks below stay, the filter only saves work.
        icmp_filter filter{};
        filter.data = ~(1U << ICMP_ECHOREPLY);
        ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
#endif
        return fd;
    }
    const int rawError = errno;

    throw EchoError("Cannot send ICMP echo requests: this system permits neither an "
                    "unprivileged ICMP socket (" + std::string(std::strerror(datagramError))
                    + "; see net.ipv4.ping_group_range) nor a raw ICMP socket ("
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

QByteArray echoRequest(quint16 identifier, quint16 sequence, int dataSize)
{
    QByteArray packet(IcmpHeaderSize + dataSize, '\0');
    auto *bytes = reinterpret_cast<unsigned char *>(packet.data());
    bytes[0] = ICMP_ECHO;
    bytes[1] = 0;
    bytes[4] = identifier >> 8;
    bytes[5] = identifier & 0xFF;
    bytes[6] = sequence >> 8;
    bytes[7] = sequence & 0xFF;
    // Counting bytes make the requests easy to recognise in a packet capture.
    for (int i = 0; i < dataSize; ++i)
        bytes[IcmpHeaderSize + i] = static_cast<unsigned char>(i);
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
    case EMSGSIZE: // too big for the path with "don't fragment" set
        return true;
    default:
        return false;
    }
}

} // namespace

int IcmpEcho::echo(const EchoRequest &request)
{
    const auto target = resolveIPv4(request.address);
    if (!target)
        return 0;
    if (request.size < 0 || request.size > MaxDataSize)
        throw EchoError("ICMP echo data size " + std::to_string(request.size)
                        + " is outside 0.." + std::to_string(MaxDataSize));

    bool raw = false;
    const int fd = openIcmpSocket(raw);
    const SocketHandle socket(fd, raw);

    setOption(fd, IPPROTO_IP, IP_TTL, request.ttl, "Cannot set the ICMP time-to-live");
    setOption(fd, IPPROTO_IP, IP_MTU_DISCOVER,
              (request.flags & DontFragmentFlag) ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT,
              "Cannot set the ICMP fragmentation flag");

    sockaddr_storage to{};
    const socklen_t toLength = target->toSocketAddress(0, to);

    // On a datagram socket the kernel writes its own identifier into the request (the
    // socket's local "port"); on a raw one the identifier is ours to choose.
    const quint16 sequence = nextSequence();
    quint16 identifier = raw ? quint16(::getpid() & 0xFFFF) : 0;
    const QByteArray packet = echoRequest(identifier, sequence, request.size);

    if (::sendto(fd, packet.constData(), size_t(packet.size()), 0,
                 reinterpret_cast<const sockaddr *>(&to), toLength) < 0) {
        if (isUnreachable(errno))
            return 0;
        throw EchoError(systemError("Cannot send the ICMP echo request", errno));
    }

    if (!raw) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0)
            throw EchoError(systemError("Cannot read the ICMP echo identifier", errno));
        identifier = ntohs(local.sin_port);
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

        // A raw socket delivers the IP header as well; a datagram socket only the ICMP part.
        size_t offset = 0;
        if (raw) {
            if (received < 20)
                continue;
            offset = size_t(buffer[0] & 0x0F) * 4;
        }
        if (size_t(received) < offset + IcmpHeaderSize)
            continue;

        const unsigned char *icmp = buffer.data() + offset;
        // Our own request seen on loopback is type 8; errors and others' traffic differ too.
        if (icmp[0] != ICMP_ECHOREPLY)
            continue;
        const quint16 replyIdentifier = quint16(icmp[4] << 8 | icmp[5]);
        const quint16 replySequence = quint16(icmp[6] << 8 | icmp[7]);
        if (replyIdentifier == identifier && replySequence == sequence)
            return 1;
    }
}

} // namespace qm
