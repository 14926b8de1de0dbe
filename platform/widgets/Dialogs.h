#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace qm {

// The few dialogs the program opens, behind hooks so that a test never blocks in a
// modal loop: a test installs an answer, the dialog is skipped and the hook is told.
namespace Dialogs {

// A modal box with the application's title as caption, the text and an OK button.
void message(QWidget *parent, const QString &text);

// A modal error box with the application's title as caption (the exception display).
void error(QWidget *parent, const QString &text);

// The system's folder chooser; nothing when cancelled.
std::optional<QString> chooseFolder(QWidget *parent, const QString &title, const QString &startFolder);

// Test hooks. A message hook receives the text of every box instead of showing it. A
// folder hook answers every chooser with what it returns, and receives its title and
// start folder.
void setMessageHook(std::function<void(const QString &text)> hook);
void setErrorHook(std::function<void(const QString &text)> hook);
void setFolderHook(std::function<std::optional<QString>(const QString &title, const QString &start)> hook);
void clearHooks();

} // namespace Dialogs
} // namespace qm
