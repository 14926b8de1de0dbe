#include "platform/widgets/Controls.h"

#include "platform/widgets/Dialogs.h"

#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

namespace qm {

namespace {

// A link label is a link to assistive technology, and pressing it clicks it.
class AccessibleLinkLabel final : public QAccessibleWidget
{
public:
    explicit AccessibleLinkLabel(TLinkLabel *label) : QAccessibleWidget(label, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<TLinkLabel *>(widget())->text();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override { return QStringList{pressAction()} + QAccessibleWidget::actionNames(); }
    void doAction(const QString &name) override
    {
        auto *label = static_cast<TLinkLabel *>(widget());
        if (name == pressAction()) {
            if (label->OnClick)
                label->OnClick();
            return;
        }
        QAccessibleWidget::doAction(name);
    }
};

QAccessibleInterface *accessibleLinkLabelFactory(const QString &, QObject *object)
{
    if (auto *label = qobject_cast<TLinkLabel *>(object))
        return new AccessibleLinkLabel(label);
    return nullptr;
}

} // namespace

TLinkLabel::TLinkLabel(QWidget *parent) : QLabel(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleLinkLabelFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick)
        OnClick();
    QLabel::mouseReleaseEvent(event);
}

void TLinkLabel::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) && OnClick) {
        OnClick();
        return;
    }
    QLabel::keyPressEvent(event);
}

TElPopupButton::TElPopupButton(QWidget *parent) : QPushButton(parent)
{
    setFlat(true);
    setAutoDefault(false);
    setCursor(Qt::PointingHandCursor);
    connect(this, &QPushButton::clicked, this, [this] {
        if (OnClick)
            OnClick();
    });
}

TMemo::TMemo(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTabChangesFocus(true);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setLineWrapMode(QPlainTextEdit::NoWrap);
}

void TMemo::addLine(const QString &line)
{
    m_pending.append(line);
    if (!m_flushQueued) {
        m_flushQueued = true;
        QTimer::singleShot(0, this, &TMemo::flush);
    }
}

QStringList TMemo::lines() const
{
    return m_shown + m_pending;
}

void TMemo::flush()
{
    m_flushQueued = false;
    if (m_pending.isEmpty())
        return;
    // One append for the whole batch: the document lays out the text once.
    appendPlainText(m_pending.join(QLatin1Char('\n')));
    m_shown.append(m_pending);
    m_pending.clear();
}

ElFolderNameEdit::ElFolderNameEdit(QWidget *parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_button(new QToolButton(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_button);
    m_edit->setFrame(false);
    m_edit->setTextMargins(0, 6, 1, 0);
    m_button->setFixedWidth(30);
    m_button->setAutoRaise(true);
    m_button->setCursor(Qt::ArrowCursor);
    setFocusProxy(m_edit);
    connect(m_edit, &QLineEdit::textChanged, this, [this] {
        if (OnChange)
            OnChange();
    });
    connect(m_button, &QToolButton::clicked, this, &ElFolderNameEdit::browse);
}

QString ElFolderNameEdit::text() const { return m_edit->text(); }

void ElFolderNameEdit::setText(const QString &text) { m_edit->setText(text); }

void ElFolderNameEdit::browse()
{
    const QString start = StartFolder ? StartFolder(text()) : text();
    if (const auto folder = Dialogs::chooseFolder(window(), DialogTitle, start))
        setText(*folder);
}

} // namespace qm
