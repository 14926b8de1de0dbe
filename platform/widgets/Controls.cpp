#include "platform/widgets/Controls.h"

#include "platform/widgets/Dialogs.h"

#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleOptionComplex>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>

namespace qm {

bool canAct(const QWidget *control)
{
    return control->isVisible() && control->isEnabled();
}

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
            if (label->OnClick && canAct(label))
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
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && OnClick && canAct(this))
        OnClick();
    QLabel::mouseReleaseEvent(event);
}

void TLinkLabel::keyPressEvent(QKeyEvent *event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter || event->key() == Qt::Key_Space) && OnClick) {
        if (canAct(this))
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
    // Every way of clicking ends here: the mouse, the keyboard, a program and the press
    // action of assistive technology, which Qt's button answers even while it is hidden.
    connect(this, &QPushButton::clicked, this, [this] {
        if (OnClick && canAct(this))
            OnClick();
    });
}

void TElPopupButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    painter.setFont(font());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
}

namespace {

// Lays the combo box out with its drop-down button of the box's own width.
class ElComboStyle final : public QProxyStyle
{
public:
    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl part,
                         const QWidget *widget) const override
    {
        const auto *box = qobject_cast<const TElComboBox *>(widget);
        if (control != CC_ComboBox || !box)
            return QProxyStyle::subControlRect(control, option, part, widget);
        const QRect all = option->rect;
        const QRect button(all.right() - box->DropDownWidth + 1, all.top(), box->DropDownWidth, all.height());
        switch (part) {
        case SC_ComboBoxArrow:
            return button;
        case SC_ComboBoxEditField:
            return QRect(all.left(), all.top(), all.width() - box->DropDownWidth, all.height());
        case SC_ComboBoxFrame:
            return all;
        default:
            return QProxyStyle::subControlRect(control, option, part, widget);
        }
    }
};

QStyle *elComboStyle()
{
    // One for every combo box; the application owns it.
    static QPointer<QStyle> style;
    if (!style) {
        style = new ElComboStyle;
        style->setParent(qApp);
    }
    return style;
}

} // namespace

TElComboBox::TElComboBox(QWidget *parent) : QComboBox(parent)
{
    setStyle(elComboStyle());
    setFrame(false);
}

void TElComboBox::showEvent(QShowEvent *event)
{
    if (!isEditable()) {
        setEditable(true);
        setInsertPolicy(QComboBox::NoInsert);
        lineEdit()->setFrame(false);
        lineEdit()->setTextMargins(0, TopMargin, RightMargin, 0);
    }
    QComboBox::showEvent(event);
}

void TElComboBox::showPopup()
{
    for (int i = 0; i < count(); ++i)
        setItemData(i, QSize(0, ItemHeight), Qt::SizeHintRole);
    QComboBox::showPopup();
}

void TElComboBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const QRect button(width() - DropDownWidth, 0, DropDownWidth, height());
    painter.fillRect(button, DropDownColor);
    // A small arrow pointing down, in the text colour.
    const QPointF centre = QRectF(button).center();
    const QPolygonF arrow{centre + QPointF(-4, -2), centre + QPointF(4, -2), centre + QPointF(0, 2)};
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(QPalette::Text));
    painter.drawPolygon(arrow);
}

TMemo::TMemo(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setTabChangesFocus(true);
    // As the design's memo: lines wrap at the right edge, between words where they can and
    // anywhere in a long path; a vertical scroll bar only.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
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
    if (!canAct(m_button))
        return;
    const QString start = StartFolder ? StartFolder(text()) : text();
    if (const auto folder = Dialogs::chooseFolder(window(), DialogTitle, start))
        setText(ChosenText ? ChosenText(*folder) : *folder);
}

} // namespace qm
