#include "platform/Exceptions.h"

#include <cstdio>
#include <utility>

namespace qm {

namespace {

ExceptionDisplay &currentDisplay()
{
    static ExceptionDisplay display = [](const QString &message) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    };
    return display;
}

} // namespace

ExceptionDisplay setExceptionDisplay(ExceptionDisplay display)
{
    return std::exchange(currentDisplay(), std::move(display));
}

void showException(const QString &message)
{
    if (currentDisplay())
        currentDisplay()(message);
}

void showException(const std::exception &e)
{
    showException(QString::fromUtf8(e.what()));
}

void guarded(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const std::exception &e) {
        showException(e);
    } catch (...) {
        showException(QStringLiteral("Unknown exception"));
    }
}

} // namespace qm
