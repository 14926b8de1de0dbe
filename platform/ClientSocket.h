#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class QSocketNotifier;

namespace qm {

class IpAddress;

class SocketError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A non-blocking TCP client with event handlers, reporting on the thread that owns it.
//
// - Active is true from the connect event until the disconnect event.
// - Host and Port are written while the socket is inactive.
// - setActive(true) starts the name lookup and connection and returns at once. When the
//   start fails at once (no host, a port that is no 16-bit number), OnDisconnect runs
//   inside the call and then SocketError is raised. Port 0 is tried like any other.
// - The addresses the lookup gives are tried in its order until one connects; only when
//   none does is the attempt a failure, reported for the last address tried.
// - OnConnect runs when the connection is made, with Active already true. A connection
//   that the server ended before it was seen made is reported as what it was: OnConnect,
//   then OnDisconnect.
// - OnError runs when the connection cannot be made or a later operation fails; when the
//   handler leaves errorCode non-zero, the failure is passed on as SocketError to the
//   exception display and the socket is closed with OnDisconnect. When it sets errorCode
//   to 0 nothing more happens for that failure.
// - A failed name lookup runs OnDisconnect and passes the failure to the exception display.
// - OnDisconnect runs when the peer closes the connection, and inside setActive(false) on a
//   connected socket. setActive(false) on an inactive socket does nothing.
class TClientSocket final : public QObject
{
    Q_OBJECT

public:
    explicit TClientSocket(QObject *parent = nullptr);
    ~TClientSocket() override;

    bool Active() const;
    void setActive(bool active);

    QString Host;
    int Port = 0;

    std::function<void()> OnConnect;
    std::function<void()> OnDisconnect;
    std::function<void(int &errorCode)> OnError;

private:
    void startAttempt();
    void lookupFailed(const QString &host, const QString &reason);
    void connectToNext();
    bool connectTo(const IpAddress &address, int &error);
    void connectionSettled();
    void madeThenEnded();
    void adopt();
    void watch(bool forReading);
    void stopWatching();
    void readable();
    void peerClosed();
    void attemptFailed(int code, const QString &reason);
    void reportFailure(int code, const QString &reason, bool wasActive);
    void discardSocket();

    // The socket of the current attempt or connection, and the notifier that watches it:
    // for writing while the connection is under way (it becomes writable when the attempt
    // has settled), for reading once it is made (what the server sends, or its close).
    qintptr m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    bool m_active = false;  // between the connect and the disconnect event
    bool m_pending = false; // a lookup or connection attempt is under way
    // Bumped whenever an attempt starts or ends, so that late results of an attempt that
    // was given up are recognised and dropped.
    quint64 m_generation = 0;
    int m_lookupId = -1;
    QString m_host; // Host and Port as they were when the attempt started
    int m_port = 0;
    // The addresses of the attempt not yet tried, in the order the lookup gave them.
    std::vector<IpAddress> m_addresses;
};

} // namespace qm
