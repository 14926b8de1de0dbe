#include "platform/Resolver.h"

#include <QAbstractSocket>
#include <QHostInfo>
#include <QMetaObject>
#include <QObject>
#include <QUrl>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <memory>
#include <utility>

namespace qm {

namespace {

std::optional<QHostAddress> numericAddress(const QString &host)
{
    QHostAddress address;
    if (address.setAddress(host))
        return address;
    return std::nullopt;
}

QString refusalReason(const QString &host)
{
    if (host.isEmpty())
        return QStringLiteral("no host name given");
    return QStringLiteral("the name %1 is reserved and never resolves").arg(host);
}

// Delivers `result` through the event loop of `context`, so that callers always see the
// outcome after their call has returned.
void deliverLater(QObject *context, ResolveCallback done, ResolveResult result)
{
    QMetaObject::invokeMethod(
        context,
        [done = std::move(done), result = std::move(result)] { done(result); },
        Qt::QueuedConnection);
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

std::optional<QHostAddress> resolveIPv4(const QString &host)
{
    if (host.isEmpty() || isReservedInvalidName(host))
        return std::nullopt;

    if (const auto numeric = numericAddress(host)) {
        if (numeric->protocol() == QAbstractSocket::IPv4Protocol)
            return numeric;
        return std::nullopt; // an IPv6 literal has no IPv4 address
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM; // one entry per address instead of one per socket type
    addrinfo *found = nullptr;
    // Plain ASCII names go to the resolver as they are; others in their ACE form.
    bool ascii = true;
    for (const QChar c : host)
        ascii = ascii && c.unicode() < 0x80;
    const QByteArray name = ascii ? host.toLatin1() : QUrl::toAce(host);
    if (name.isEmpty())
        return std::nullopt;
    if (getaddrinfo(name.constData(), nullptr, &hints, &found) != 0 || !found)
        return std::nullopt;
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> guard(found, &freeaddrinfo);
    for (const addrinfo *entry = found; entry; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr)
            return QHostAddress(entry->ai_addr);
    }
    return std::nullopt;
}

int resolveAsync(const QString &host, QObject *context, ResolveCallback done)
{
    if (host.isEmpty() || isReservedInvalidName(host)) {
        deliverLater(context, std::move(done), {std::nullopt, refusalReason(host)});
        return -1;
    }

    if (auto numeric = numericAddress(host)) {
        deliverLater(context, std::move(done), {numeric, QString()});
        return -1;
    }

    return QHostInfo::lookupHost(host, context, [done = std::move(done)](const QHostInfo &info) {
        ResolveResult result;
        const QList<QHostAddress> addresses = info.addresses();
        for (const QHostAddress &address : addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                result.address = address;
                break;
            }
        }
        if (!result.address && !addresses.isEmpty())
            result.address = addresses.first();
        if (!result.address) {
            result.error = info.error() == QHostInfo::NoError ? QStringLiteral("no address found")
                                                              : info.errorString();
        }
        done(result);
    });
}

void cancelResolve(int lookupId)
{
    if (lookupId >= 0)
        QHostInfo::abortHostLookup(lookupId);
}

} // namespace qm
