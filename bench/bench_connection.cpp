// The connection test of the real window, with every step passing, timed: the window is
// built on a Wine prefix in a temporary folder whose game settings name a listener on
// 127.0.0.1, the public hosts are 127.0.0.2 and 127.0.0.3, and the echo is the real ICMP
// one. A 1 ms probe timer measures how long the event loop was kept from turning.
//
// Prints: total milliseconds from opening the page to the end of the test, the longest
// block of the event loop in milliseconds, and the four verdicts.
//
// Sends nothing beyond the loopback range; bench/run.sh starts it in a network namespace
// of its own all the same.
#include "app/Unit1.h"
#include "platform/Echo.h"
#include "platform/wine/HostFileSystem.h"
#include "platform/posix/IcmpEcho.h"
#include "platform/Shell.h"
#include "platform/wine/WinePrefix.h"
#include "platform/wine/WineRegistry.h"
#include "platform/wine/WineSystemInfo.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

class NoShell final : public qm::Shell
{
public:
    void open(const QString &) override {}
};

// Only loopback addresses are ever asked for; anything else is refused before it is sent.
class LoopbackOnlyEcho final : public qm::EchoTransport
{
public:
    int echo(const qm::EchoRequest &request) override
    {
        QHostAddress address;
        if (!address.setAddress(request.address) || !address.isLoopback())
            throw qm::EchoError("bench: refusing to send outside the loopback range");
        return m_real.echo(request);
    }

private:
    qm::IcmpEcho m_real;
};

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    QTcpServer server;
    QList<QTcpSocket *> peers;
    if (!server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0)) {
        std::fprintf(stderr, "bench: cannot listen on 127.0.0.1\n");
        return 1;
    }
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *peer = server.nextPendingConnection())
            peers.append(peer);
    });

    QTemporaryDir prefixDir;
    QDir prefix(prefixDir.path());
    prefix.mkpath(QStringLiteral("dosdevices"));
    prefix.mkpath(QStringLiteral("drive_c/QuenmarOnline/config"));
    QFile::link(QStringLiteral("../drive_c"), prefix.filePath(QStringLiteral("dosdevices/c:")));
    QFile settings(prefix.filePath(QStringLiteral("drive_c/QuenmarOnline/config/setup.ini")));
    if (!settings.open(QIODevice::WriteOnly))
        return 1;
    settings.write("HOST=127.0.0.1\r\nPORT=" + QByteArray::number(server.serverPort()) + "\r\n");
    settings.close();

    const qm::WinePrefix winePrefix(prefixDir.path());
    qm::WineRegistry registry(winePrefix);
    qm::HostFileSystem files(winePrefix);
    LoopbackOnlyEcho echo;
    NoShell shell;
    qm::WineSystemInfo system(winePrefix);
    TForm1 form({registry, files, echo, shell, system,
                 {QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3")}, nullptr, nullptr});
    form.show();

    // The probe: each firing notes how late it came; a turn of the loop that took longer
    // than the probe's interval shows as the gap between two firings.
    QElapsedTimer clock;
    qint64 lastProbe = 0;
    qint64 longestBlock = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestBlock = std::max(longestBlock, now - lastProbe);
        lastProbe = now;
    });

    qint64 total = 0;
    QTimer::singleShot(200, [&] {
        clock.start();
        lastProbe = 0;
        probe.start();
        form.ElPageControl1->setActivePageIndex(1);
    });
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (form.TestStarted && !form.TestRunning) {
            total = clock.nsecsElapsed();
            application.quit();
        }
    });
    watch.start();
    QTimer::singleShot(20000, &application, &QApplication::quit);
    application.exec();

    std::printf("%.1f %.1f %s|%s|%s|%s\n", total / 1e6, longestBlock / 1e6,
                qPrintable(form.Label10->text()), qPrintable(form.Label19->text()),
                qPrintable(form.Label11->text()), qPrintable(form.Label12->text()));
    return total > 0 ? 0 : 1;
}
