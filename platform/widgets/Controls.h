#pragma once

#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

#include <functional>

class QLineEdit;
class QToolButton;

namespace qm {

// Whether a control may act on input of any kind: it is shown (on a shown page of a shown
// window) and enabled. A hidden or refused control acts on no path, the press action of
// assistive technology included.
bool canAct(const QWidget *control);

// A label that reacts to a click of the left mouse button (and to the keyboard when it
// is given focus), for the links of the password page.
class TLinkLabel final : public QLabel
{
    Q_OBJECT

public:
    explicit TLinkLabel(QWidget *parent = nullptr);

    std::function<void()> OnClick;

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};

// A button drawn flat as a link on its own background colour (the palette's Button
// colour): no border, no frame, no focus rectangle; its font gives the underline.
class TElPopupButton final : public QPushButton
{
    Q_OBJECT

public:
    explicit TElPopupButton(QWidget *parent = nullptr);

    std::function<void()> OnClick;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// An editable combo box drawn flat: the entry on the palette's Base colour and a flat
// drop-down button of its own width and colour at the right. Its entry, with the
// completion from the item list, is made when the box is first shown: a page that is
// never opened costs no editor.
class TElComboBox final : public QComboBox
{
    Q_OBJECT

public:
    explicit TElComboBox(QWidget *parent = nullptr);

    int DropDownWidth = 30;
    QColor DropDownColor{0xDC, 0xD7, 0xCB};
    int ItemHeight = 20;
    int TopMargin = 5;
    int RightMargin = 1;

    void showPopup() override;

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

// A read-only memo that wraps its lines, with a vertical scroll bar only. Lines added while
// a handler runs are collected and shown together when the event loop next runs, so that
// adding many lines stays linear.
class TMemo final : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit TMemo(QWidget *parent = nullptr);

    void addLine(const QString &line);
    // Every line: those shown and those still waiting.
    QStringList lines() const;
    // Shows the waiting lines now.
    void flush();

private:
    QStringList m_shown;
    QStringList m_pending;
    bool m_flushQueued = false;
};

// A one-line folder edit with a browse button that opens the system's folder chooser.
class ElFolderNameEdit final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText)

public:
    explicit ElFolderNameEdit(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);
    QLineEdit *lineEdit() const { return m_edit; }
    QToolButton *browseButton() const { return m_button; }

    QString DialogTitle;
    // Where the chooser opens for a given text; the text itself when not set.
    std::function<QString(const QString &text)> StartFolder;
    // The text for the folder chosen; the folder itself when not set.
    std::function<QString(const QString &folder)> ChosenText;
    // Runs on every change of the text, typed or chosen.
    std::function<void()> OnChange;

    void browse();

private:
    QLineEdit *m_edit;
    QToolButton *m_button;
};

} // namespace qm
