#include "platform/posix/DesktopShell.h"

#include <QProcess>
#include <QStringList>

namespace qm {

void DesktopShell::open(const QString &address)
{
    // An argument list, no shell: the address reaches xdg-open byte for byte. How the
    // handler sizes its window is its own affair.
    QProcess::startDetached(QStringLiteral("xdg-open"), QStringList{address});
}

} // namespace qm
