#pragma once

// A game server on 127.0.0.1 that resets every connection right after accepting it: its
// own thread accepts, sets a zero linger time (so the close sends RST instead of FIN) and
// closes. A test can wait until a connection has been reset before it lets its client's
// event loop look at the connection: the client then finds a connection that was made and
// is already reset, every time.

#include <QSemaphore>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

class ResettingListener final
{
public:
    ResettingListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_fd, 16) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }

    ~ResettingListener()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }

    ResettingListener(const ResettingListener &) = delete;
    ResettingListener &operator=(const ResettingListener &) = delete;

    quint16 port() const { return m_port; }
    int accepted() const { return m_accepted; }

    // Waits until one more connection has been accepted and reset.
    bool waitForReset(int timeoutMs = 10000) { return m_resets.tryAcquire(1, timeoutMs); }

private:
    void serve()
    {
        while (!m_stop) {
            pollfd wait{m_fd, POLLIN, 0};
            if (::poll(&wait, 1, 50) <= 0)
                continue;
            const int peer = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                continue;
            ++m_accepted;
            const linger hard{1, 0};
            ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            ::close(peer);
            m_resets.release();
        }
    }

    int m_fd = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    QSemaphore m_resets;
};
