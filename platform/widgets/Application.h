#pragma once

#include <QApplication>

namespace qm {

// The application object: its title is the caption of its error boxes, and an exception
// that escapes an event handler is shown by its exception display while the message loop
// goes on.
class TApplication final : public QApplication
{
    Q_OBJECT

public:
    TApplication(int &argc, char **argv);

    static QString title();
    static void setTitle(const QString &title);

    bool notify(QObject *receiver, QEvent *event) override;
};

} // namespace qm
