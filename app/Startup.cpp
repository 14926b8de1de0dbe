#include "app/Startup.h"

#include "app/GameSite.h"
#include "app/Unit1.h"
#include "platform/Exceptions.h"
#include "platform/widgets/Application.h"

namespace qm {

int runHelpCentre(int argc, char **argv, const std::function<SystemBackends()> &makeBackends)
{
    static char fallbackName[] = "quenmar-helpcentre";
    char *programName[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    int programNameCount = 1;
    TApplication application(programNameCount, programName);
    // The title is the caption of the error boxes; the window's own caption differs from
    // it in the case of one letter.
    TApplication::setTitle(QStringLiteral("Quenmar HelpCentre"));
    QGuiApplication::setDesktopFileName(QStringLiteral("quenmar-helpcentre"));

    try {
        const SystemBackends system = makeBackends();
        TForm1 form({*system.registry, *system.files, *system.echo, *system.shell, *system.system,
                     GameSite::PublicHosts, system.hostFolder, system.windowsFolder,
                     system.whereFound, system.folderAccepted});
        form.show();
        application.exec();
    } catch (const std::exception &e) {
        showException(e);
    }
    return 0;
}

} // namespace qm
