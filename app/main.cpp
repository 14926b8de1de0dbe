#include "app/GameSite.h"
#include "app/Unit1.h"
#include "platform/DesktopShell.h"
#include "platform/Exceptions.h"
#include "platform/HostFileSystem.h"
#include "platform/IcmpEcho.h"
#include "platform/WinePrefix.h"
#include "platform/WineRegistry.h"
#include "platform/WineSystemInfo.h"
#include "platform/widgets/Application.h"

#include <QDir>
#include <QFileInfo>

int main(int argc, char *argv[])
{
    qm::TApplication application(argc, argv);
    qm::TApplication::setTitle(QStringLiteral("Quenmar HelpCentre"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quenmar-helpcentre"));

    try {
        const qm::WinePrefix prefix;
        qm::WineRegistry registry(prefix);
        qm::HostFileSystem files(prefix);
        qm::IcmpEcho echo;
        qm::DesktopShell shell;
        qm::WineSystemInfo system(prefix);
        const auto hostFolder = [prefix](const QString &folder) {
            const auto path = prefix.toHostPath(folder);
            if (path && QFileInfo(QString::fromUtf8(*path)).isDir())
                return QString::fromUtf8(*path);
            return QDir::homePath();
        };

        TForm1 form({registry, files, echo, shell, system, GameSite::PublicHosts, hostFolder});
        form.show();
        application.exec();
    } catch (const std::exception &e) {
        qm::showException(e);
    }
    return 0;
}
