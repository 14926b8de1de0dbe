#pragma once

// A game server for the tests: a TCP listener on a loopback address, on a port the system
// chooses, made with the system's own sockets (one source per system, chosen in CMake).

#include <QString>

#include <functional>
#include <memory>

namespace fixture {

class LoopbackServer final
{
public:
    // What happens to each connection accepted: it stays open, it is closed at once, or it
    // is reset at once (a close that sends RST instead of FIN).
    enum class OnAccept { Keep, Close, Reset };

    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer &) = delete;
    LoopbackServer &operator=(const LoopbackServer &) = delete;

    // Called for every connection accepted, before it is kept, closed or reset.
    std::function<void()> onAccepted;

    bool listen(const QString &address, OnAccept onAccept);
    // Nobody listens on the port any more: a connection to it is refused.
    void stopListening();
    quint16 port() const;

    // The kept connections that the client closed again, counted and all at once.
    int closedByClient() const;
    bool allClosedByClient() const;

private:
    struct Data;
    std::unique_ptr<Data> d;
};

} // namespace fixture
