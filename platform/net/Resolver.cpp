#include "platform/net/Resolver.h"

#include "platform/net/SocketCalls.h"

#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace qm {

// ---------------------------------------------------------------------------------------
// IpAddress

std::optional<IpAddress> IpAddress::fromString(const QString &text)
{
    net::startSockets();
    const QByteArray trimmed = text.trimmed().toLatin1();
    if (trimmed.isEmpty())
        return std::nullopt;

    IpAddress address;
    if (!trimmed.contains(':')) {
        auto *in4 = reinterpret_cast<sockaddr_in *>(&address.m_address);
        if (::inet_pton(AF_INET, trimmed.constData(), &in4->sin_addr) != 1)
            return std::nullopt;
        in4->sin_family = AF_INET;
        return address;
    }

    // Link-local IPv6 addresses name their interface after a '%', by name or by number.
    QByteArray bare = trimmed;
    unsigned scope = 0;
    const qsizetype percent = trimmed.lastIndexOf('%');
    if (percent >= 0) {
        bare = trimmed.left(percent);
        const QByteArray scopeText = trimmed.mid(percent + 1);
        bool numeric = false;
        scope = scopeText.toUInt(&numeric);
        if (!numeric)
            scope = ::if_nametoindex(scopeText.constData());
        if (scope == 0)
            return std::nullopt;
    }
    auto *in6 = reinterpret_cast<sockaddr_in6 *>(&address.m_address);
    if (::inet_pton(AF_INET6, bare.constData(), &in6->sin6_addr) != 1)
        return std::nullopt;
    in6->sin6_family = AF_INET6;
    in6->sin6_scope_id = scope;
    return address;
}

std::optional<IpAddress> IpAddress::fromSocketAddress(const sockaddr *address, socklen_t length)
{
    if (!address)
        return std::nullopt;
    IpAddress result;
    if (address->sa_family == AF_INET && length >= socklen_t(sizeof(sockaddr_in))) {
        std::memcpy(&result.m_address, address, sizeof(sockaddr_in));
        reinterpret_cast<sockaddr_in *>(&result.m_address)->sin_port = 0;
        return result;
    }
    if (address->sa_family == AF_INET6 && length >= socklen_t(sizeof(sockaddr_in6))) {
        std::memcpy(&result.m_address, address, sizeof(sockaddr_in6));
        reinterpret_cast<sockaddr_in6 *>(&result.m_address)->sin6_port = 0;
        return result;
    }
    return std::nullopt;
}

QString IpAddress::toString() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (isIPv4()) {
        const auto *in4 = reinterpret_cast<const sockaddr_in *>(&m_address);
        if (!::inet_ntop(AF_INET, &in4->sin_addr, text, sizeof text))
            return QString();
        return QString::fromLatin1(text);
    }
    if (isIPv6()) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&m_address);
        if (!::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text))
            return QString();
        QString result = QString::fromLatin1(text);
        if (in6->sin6_scope_id != 0) {
            char name[IF_NAMESIZE] = {};
            result += QLatin1Char('%')
                + (::if_indextoname(in6->sin6_scope_id, name) ? QString::fromLocal8Bit(name)
                                                               : QString::number(in6->sin6_scope_id));
        }
        return result;
    }
    return QString();
}

socklen_t IpAddress::toSocketAddress(quint16 port, sockaddr_storage &out) const
{
    out = m_address;
    if (isIPv4()) {
        reinterpret_cast<sockaddr_in *>(&out)->sin_port = htons(port);
        return sizeof(sockaddr_in);
    }
    if (isIPv6()) {
        reinterpret_cast<sockaddr_in6 *>(&out)->sin6_port = htons(port);
        return sizeof(sockaddr_in6);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Lookups

namespace {

QString refusalReason(const QString &host)
{
    if (host.isEmpty())
        return QStringLiteral("no host name given");
    return QStringLiteral("the name %1 is reserved and never resolves").arg(host);
}

// Plain ASCII names go to the resolver as they are; others in their ACE form. Empty when
// the name has no ACE form.
QByteArray lookupName(const QString &host)
{
    bool ascii = true;
    for (const QChar c : host)
        ascii = ascii && c.unicode() < 0x80;
    return ascii ? host.toLatin1() : QUrl::toAce(host);
}

// Delivers `result` through the event loop of `context`, so that callers always see the
// outcome after their call has returned. The posted call dies with `context`.
void deliverLater(QObject *context, ResolveCallback done, ResolveResult result)
{
    QMetaObject::invokeMethod(
        context,
        [done = std::move(done), result = std::move(result)] { done(result); },
        Qt::QueuedConnection);
}

// The ids of lookups whose answer is still wanted. An answer is delivered only when its id
// is taken out of here, so a cancelled lookup never reports.
class LiveLookups final
{
public:
    int add()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        int id;
        do {
            id = m_next;
            m_next = m_next == INT_MAX ? 0 : m_next + 1;
        } while (m_live.contains(id));
        m_live.insert(id);
        return id;
    }

    bool take(int id)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_live.remove(id);
    }

private:
    std::mutex m_mutex;
    QSet<int> m_live;
    int m_next = 0;
};

LiveLookups &liveLookups()
{
    static LiveLookups lookups;
    return lookups;
}

// Every address of `name` of `family` (AF_UNSPEC for both), in the order the system's
// lookup gives them: it puts first what this machine can best reach.
//
// No AI_ADDRCONFIG: it counts only addresses other than loopback, so on a machine with
// IPv6 on loopback alone it would drop "::1" for "localhost", where a game server may
// listen. An address that cannot be reached only costs a quick failed attempt.
ResolveResult lookUp(const QByteArray &name, int family, int socketType)
{
    net::startSockets();
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = socketType; // one entry per address instead of one per socket type
    addrinfo *found = nullptr;
    const int status = ::getaddrinfo(name.constData(), nullptr, &hints, &found);

    ResolveResult result;
    if (status != 0) {
        result.error = status == EAI_NONAME ? QStringLiteral("Host not found")
                                            : net::describeLookupFailure(status);
        return result;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(found, &freeaddrinfo);
    for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
        if (auto address = IpAddress::fromSocketAddress(entry->ai_addr, entry->ai_addrlen))
            result.addresses.push_back(*address);
    }
    if (result.addresses.empty())
        result.error = QStringLiteral("no address found");
    return result;
}

// The answer of a lookup that its caller may stop waiting for: whoever comes last, the
// lookup thread or the caller, lets it go.
struct PendingLookup
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    ResolveResult result;
};

std::optional<IpAddress> resolveBlocking(const QString &host, int family, int timeoutMs)
{
    net::startSockets();
    if (host.isEmpty() || isReservedInvalidName(host))
        return std::nullopt;

    if (const auto numeric = IpAddress::fromString(host)) {
        if (family == AF_UNSPEC || (family == AF_INET) == numeric->isIPv4())
            return numeric;
        return std::nullopt;
    }

    const QByteArray name = lookupName(host);
    if (name.isEmpty())
        return std::nullopt;

    auto pending = std::make_shared<PendingLookup>();
    std::thread([pending, name, family] {
        ResolveResult result = lookUp(name, family, SOCK_DGRAM);
        const std::lock_guard<std::mutex> lock(pending->mutex);
        pending->result = std::move(result);
        pending->done = true;
        pending->finished.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(pending->mutex);
    if (!pending->finished.wait_for(lock, std::chrono::milliseconds(std::max(0, timeoutMs)),
                                    [&] { return pending->done; }))
        return std::nullopt;
    if (pending->result.addresses.empty())
        return std::nullopt;
    return pending->result.addresses.front();
}

} // namespace

bool isReservedInvalidName(const QString &host)
{
    QString name = host;
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1);
    return name.compare(QLatin1String("invalid"), Qt::CaseInsensitive) == 0
        || name.endsWith(QLatin1String(".invalid"), Qt::CaseInsensitive);
}

std::optional<IpAddress> resolveForEcho(const QString &host, int timeoutMs)
{
    return resolveBlocking(host, AF_UNSPEC, timeoutMs);
}

std::optional<IpAddress> resolveIPv4(const QString &host, int timeoutMs)
{
    return resolveBlocking(host, AF_INET, timeoutMs);
}

// A name server may take seconds to answer, so the lookup runs on a thread of its own. Its
// answer goes to a small receiver object living in the context's thread: unlike the
// context, the receiver is never destroyed before the answer has arrived, so the lookup
// thread can always post to it. On arrival, in the context's thread, the receiver checks
// that the context still exists and the lookup was not cancelled, then goes away.
int resolveAsync(const QString &host, QObject *context, ResolveCallback done)
{
    if (host.isEmpty() || isReservedInvalidName(host)) {
        deliverLater(context, std::move(done), {{}, refusalReason(host)});
        return -1;
    }

    if (auto numeric = IpAddress::fromString(host)) {
        deliverLater(context, std::move(done), {{*numeric}, QString()});
        return -1;
    }

    const QByteArray name = lookupName(host);
    if (name.isEmpty()) {
        deliverLater(context, std::move(done),
                     {{}, QStringLiteral("the name %1 cannot be looked up").arg(host)});
        return -1;
    }

    const int id = liveLookups().add();
    auto *receiver = new QObject;
    receiver->moveToThread(context->thread());
    auto deliver = [receiver, id, guard = QPointer<QObject>(context),
                    done = std::move(done)](const ResolveResult &result) {
        receiver->deleteLater();
        if (liveLookups().take(id) && guard)
            done(result);
    };

    try {
        std::thread([name, receiver, deliver]() {
            ResolveResult result = lookUp(name, AF_UNSPEC, SOCK_STREAM);
            QMetaObject::invokeMethod(
                receiver, [deliver, result = std::move(result)] { deliver(result); },
                Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error &e) {
        // Without a thread there is no lookup: the answer is the failure, later as always.
        const ResolveResult failure{{},
                                    QStringLiteral("cannot start the name lookup: %1")
                                        .arg(QString::fromLocal8Bit(e.what()))};
        QMetaObject::invokeMethod(
            receiver, [deliver, failure] { deliver(failure); }, Qt::QueuedConnection);
    }
    return id;
}

void cancelResolve(int lookupId)
{
    if (lookupId >= 0)
        liveLookups().take(lookupId);
}

} // namespace qm
