#include "platform/widgets/Dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace qm::Dialogs {

namespace {

std::function<void(const QString &)> &messageHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

std::function<void(const QString &)> &errorHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

std::function<std::optional<QString>(const QString &, const QString &)> &folderHook()
{
    static std::function<std::optional<QString>(const QString &, const QString &)> hook;
    return hook;
}

} // namespace

void message(QWidget *parent, const QString &text)
{
    if (messageHook()) {
        messageHook()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
    box.exec();
}

void error(QWidget *parent, const QString &text)
{
    if (errorHook()) {
        errorHook()(text);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(), text, QMessageBox::Ok, parent);
    box.exec();
}

std::optional<QString> chooseFolder(QWidget *parent, const QString &title, const QString &startFolder)
{
    if (folderHook())
        return folderHook()(title, startFolder);
    const QString folder = QFileDialog::getExistingDirectory(parent, title, startFolder);
    if (folder.isEmpty())
        return std::nullopt;
    return folder;
}

void setMessageHook(std::function<void(const QString &)> hook) { messageHook() = std::move(hook); }
void setErrorHook(std::function<void(const QString &)> hook) { errorHook() = std::move(hook); }
void setFolderHook(std::function<std::optional<QString>(const QString &, const QString &)> hook)
{
    folderHook() = std::move(hook);
}

void clearHooks()
{
    messageHook() = nullptr;
    errorHook() = nullptr;
    folderHook() = nullptr;
}

} // namespace qm::Dialogs
