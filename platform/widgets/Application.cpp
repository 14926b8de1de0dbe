#include "platform/widgets/Application.h"

#include "platform/Exceptions.h"
#include "platform/widgets/Dialogs.h"

namespace qm {

TApplication::TApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    setExceptionDisplay([](const QString &message) { Dialogs::error(QApplication::activeWindow(), message); });
}

QString TApplication::title() { return QCoreApplication::applicationName(); }

// The application name doubles as the title: it is not the display name, which the
// platform would append to every window caption.
void TApplication::setTitle(const QString &title) { QCoreApplication::setApplicationName(title); }

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    // No exception may cross the event loop: what a handler did not catch is shown here.
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception &e) {
        showException(e);
    } catch (...) {
        showException(QStringLiteral("Unknown exception"));
    }
    return false;
}

} // namespace qm
