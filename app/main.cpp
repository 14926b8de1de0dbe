#include "app/GameSite.h"
#include "app/Unit1.h"
#include "platform/Echo.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/SystemBackends.h"
#include "platform/SystemInfo.h"
#include "platform/widgets/Application.h"

int main(int argc, char *argv[])
{
    qm::TApplication application(argc, argv);
    qm::TApplication::setTitle(QStringLiteral("Quenmar HelpCentre"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quenmar-helpcentre"));

    try {
        const qm::SystemBackends system = qm::makeSystemBackends();
        TForm1 form({*system.registry, *system.files, *system.echo, *system.shell, *system.system,
                     GameSite::PublicHosts, system.hostFolder, system.windowsFolder});
        form.show();
        application.exec();
    } catch (const std::exception &e) {
        qm::showException(e);
    }
    return 0;
}
