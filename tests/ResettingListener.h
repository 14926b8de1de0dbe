#pragma once

// A game server on 127.0.0.1 that resets every connection right after accepting it: its
// own thread accepts, sets a zero linger time (so the close sends RST instead of FIN) and
// closes. A test can wait until a connection has been reset before it lets its client's
// event loop look at the connection: the client then finds a connection that was made and
// is already reset, every time. Made with the system's own sockets, through the calls the
// program's TCP client shares between systems.

#include "platform/net/SocketCalls.h"

#include <QSemaphore>

#include <atomic>
#include <thread>

class ResettingListener final
{
    // A socket as the system's own calls take it.
    using NativeSocket = decltype(::socket(0, 0, 0));

public:
    ResettingListener()
    {
        int error = 0;
        m_fd = qm::net::openStreamSocket(AF_INET, error);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd == qm::net::NoSocket || ::bind(native(), reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(native(), 16) != 0
            || ::getsockname(native(), reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }

    ~ResettingListener()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd != qm::net::NoSocket)
            qm::net::closeSocket(m_fd);
    }

    ResettingListener(const ResettingListener &) = delete;
    ResettingListener &operator=(const ResettingListener &) = delete;

    quint16 port() const { return m_port; }
    int accepted() const { return m_accepted; }

    // Waits until one more connection has been accepted and reset.
    bool waitForReset(int timeoutMs = 10000) { return m_resets.tryAcquire(1, timeoutMs); }

private:
    NativeSocket native() const { return NativeSocket(m_fd); }

    void serve()
    {
        while (!m_stop) {
            fd_set ready;
            FD_ZERO(&ready);
            FD_SET(native(), &ready);
            timeval wait{0, 50000};
            if (::select(int(m_fd) + 1, &ready, nullptr, nullptr, &wait) <= 0)
                continue;
            const auto peer = ::accept(native(), nullptr, nullptr);
            if (qm::net::Socket(peer) == qm::net::NoSocket)
                continue;
            ++m_accepted;
            const linger hard{1, 0};
            ::setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&hard), sizeof hard);
            qm::net::closeSocket(qm::net::Socket(peer));
            m_resets.release();
        }
    }

    qm::net::Socket m_fd = qm::net::NoSocket;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    QSemaphore m_resets;
};
