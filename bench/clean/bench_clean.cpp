// Times the cache cleaner on a Wine prefix made in a temporary folder whose pub folder
// holds N files: from the click until the memo shows every line, and one repaint of the
// window after that. Prints figures; asserts nothing.
//
//   bench_clean [N]        N defaults to 100000
//
// Run it with QT_QPA_PLATFORM=offscreen where there is no display.

#include "app/Unit1.h"
#include "platform/Echo.h"
#include "platform/wine/HostFileSystem.h"
#include "platform/Shell.h"
#include "platform/wine/WinePrefix.h"
#include "platform/wine/WineRegistry.h"
#include "platform/wine/WineSystemInfo.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The cleaner needs neither; the connection test that would is never started here.
class NoEcho final : public qm::EchoTransport
{
public:
    int echo(const qm::EchoRequest &) override { return 0; }
};

class NoShell final : public qm::Shell
{
public:
    void open(const QString &) override {}
};

bool makeFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

double msSince(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const long count = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 100000;
    if (count < 0) {
        std::fprintf(stderr, "usage: bench_clean [number of files]\n");
        return 2;
    }

    // The prefix: drive C: with the installation in one of its usual folders.
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString prefixPath = dir.path();
    QDir(prefixPath).mkpath(QStringLiteral("dosdevices"));
    QDir(prefixPath).mkpath(QStringLiteral("drive_c/QuenmarOnline/pub"));
    QFile::link(QStringLiteral("../drive_c"), prefixPath + QStringLiteral("/dosdevices/c:"));
    const QByteArray install = QFile::encodeName(prefixPath + QStringLiteral("/drive_c/QuenmarOnline"));
    if (!makeFile(install + "/quenmar.exe"))
        return 1;
    for (long i = 0; i < count; ++i) {
        if (!makeFile(install + "/pub/file" + QByteArray::number(qlonglong(i)) + ".dat")) {
            std::fprintf(stderr, "could not make file %ld\n", i);
            return 1;
        }
    }

    const qm::WinePrefix prefix(prefixPath);
    qm::WineRegistry registry(prefix);
    qm::HostFileSystem files(prefix);
    NoEcho echo;
    NoShell shell;
    qm::WineSystemInfo system(prefix);
    TForm1 form({registry, files, echo, shell, system, {}, nullptr, nullptr});
    form.Timer1->stop();
    form.show();
    form.ElPageControl1->setActivePageIndex(2);
    QCoreApplication::processEvents();
    if (form.Label3->text() != QStringLiteral("c:\\QuenmarOnline")) {
        std::fprintf(stderr, "installation not found: %s\n", qPrintable(form.Label3->text()));
        return 1;
    }

    // What the creation left to write back is not the cleaner's work.
    ::sync();

    const int expected = int(count) + 1; // one line per file and the closing line
    QElapsedTimer timer;
    timer.start();
    form.SpeedButton1->click();
    const double handler = msSince(timer);
    while (form.Memo1->document()->blockCount() < expected)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double shown = msSince(timer);
    // Draw what the player would see: the memo scrolled to its last lines.
    const QImage picture = form.grab().toImage();
    const double painted = msSince(timer);

    const int left = int(QDir(QString::fromUtf8(install + "/pub")).entryList(QDir::Files | QDir::Hidden).size());
    std::printf("files %ld, lines %d, files left %d, memo visible %d, picture %dx%d\n", count,
                form.Memo1->document()->blockCount(), left, int(form.Memo1->isVisible()), picture.width(),
                picture.height());
    std::printf("click handler %.1f ms, lines shown %.1f ms, window painted %.3f ms\n", handler, shown, painted);
    std::printf("elapsed_ms %.1f\n", painted);
    return 0;
}
