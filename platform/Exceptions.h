#pragma once

#include <QString>

#include <exception>
#include <functional>

namespace qm {

// The application's standard exception display. Code that catches an exception nobody
// else will handle (an event handler, a socket reporting a failed lookup) passes it here.
// The program installs a display that shows a message box; tests install one that
// records the messages.
using ExceptionDisplay = std::function<void(const QString &message)>;

// Installs `display` and returns the one it replaces.
ExceptionDisplay setExceptionDisplay(ExceptionDisplay display);

void showException(const std::exception &e);
void showException(const QString &message);

// Runs `handler`, passing anything it throws to the exception display.
void guarded(const std::function<void()> &handler);

} // namespace qm
