#include "platform/widgets/ElPageControl.h"

#include "platform/Exceptions.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace qm {

// The strip of flat tabs along the top of the control. It keeps no state of its own
// beyond the tab under the mouse: the control decides which page is active.
class ElTabStrip final : public QWidget
{
public:
    explicit ElTabStrip(ElPageControl *control) : QWidget(control), m_control(control)
    {
        setMouseTracking(true);
        setFocusPolicy(Qt::TabFocus);
        setAttribute(Qt::WA_Hover);
    }

    QRect tabRect(int index) const
    {
        if (index < 0 || index >= m_control->pageCount() || !m_control->isTabVisible(index))
            return {};
        const QFontMetrics metrics(m_control->TabFont);
        int x = 0;
        for (int i = 0; i < m_control->pageCount(); ++i) {
            if (!m_control->isTabVisible(i))
                continue;
            const int width = metrics.horizontalAdvance(m_control->tabCaption(i)) + 2 * Padding;
            if (i == index)
                return QRect(x, height() - m_control->TabHeight, width, m_control->TabHeight);
            x += width + Gap;
        }
        return {};
    }

    int tabAt(const QPoint &pos) const
    {
        for (int i = 0; i < m_control->pageCount(); ++i) {
            if (tabRect(i).contains(pos))
                return i;
        }
        return -1;
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_control->TabBkColor);
        const int active = m_control->ActivePageIndex();
        for (int i = 0; i < m_control->pageCount(); ++i) {
            const QRect r = tabRect(i);
            if (r.isEmpty())
                continue;
            const bool isActive = i == active;
            painter.fillRect(r, isActive ? m_control->ActiveTabColor : m_control->InactiveTabColor);
            painter.setPen(m_control->FlatTabBorderColor);
            painter.drawLine(r.topRight() + QPoint(1, 0), r.bottomRight() + QPoint(1, 0));
            painter.setFont(m_control->TabFont);
            painter.setPen(i == m_hot ? m_control->HotTrackColor : m_control->TextColor);
            painter.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, m_control->tabCaption(i));
            if (isActive && hasFocus()) {
                painter.setPen(QPen(m_control->TextColor, 1, Qt::DotLine));
                painter.drawRect(r.adjusted(2, 3, -3, -4));
            }
        }
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        const int index = tabAt(event->position().toPoint());
        if (index >= 0)
            m_control->setActivePageIndex(index);
    }

    void mouseMoveEvent(QMouseEvent *event) override { setHot(tabAt(event->position().toPoint())); }
    void leaveEvent(QEvent *) override { setHot(-1); }
    void focusInEvent(QFocusEvent *) override { update(); }
    void focusOutEvent(QFocusEvent *) override { update(); }

    void keyPressEvent(QKeyEvent *event) override
    {
        const int active = m_control->ActivePageIndex();
        switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            m_control->setActivePageIndex(m_control->neighbourTab(active, -1));
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            m_control->setActivePageIndex(m_control->neighbourTab(active, +1));
            break;
        case Qt::Key_Home:
            m_control->setActivePageIndex(m_control->neighbourTab(-1, +1));
            break;
        case Qt::Key_End:
            m_control->setActivePageIndex(m_control->neighbourTab(m_control->pageCount(), -1));
            break;
        default:
            QWidget::keyPressEvent(event);
        }
    }

private:
    void setHot(int index)
    {
        if (index != m_hot) {
            m_hot = index;
            update();
        }
    }

    static constexpr int Padding = 10;
    static constexpr int Gap = 1;
    ElPageControl *m_control;
    int m_hot = -1;
};

ElPageControl::ElPageControl(QWidget *parent)
    : QWidget(parent), m_strip(new ElTabStrip(this)), m_stack(new QStackedWidget(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    // The tabs stand on a strip two pixels taller than they are.
    m_strip->setFixedHeight(TabHeight + 2);
    layout->addWidget(m_strip);
    layout->addWidget(m_stack, 1);
    setFocusProxy(m_strip);
}

ElPageControl::~ElPageControl() = default;

void ElPageControl::addPage(QWidget *page)
{
    m_stack->addWidget(page);
    const QVariant visible = page->property("tabVisible");
    m_tabVisible.append(!visible.isValid() || visible.toBool());
    m_strip->update();
}

int ElPageControl::pageCount() const { return m_stack->count(); }
QWidget *ElPageControl::page(int index) const { return m_stack->widget(index); }

QString ElPageControl::tabCaption(int index) const
{
    const QWidget *p = page(index);
    return p ? p->windowTitle() : QString();
}

bool ElPageControl::isTabVisible(int index) const
{
    return index >= 0 && index < m_tabVisible.size() && m_tabVisible.at(index);
}

void ElPageControl::setTabVisible(int index, bool visible)
{
    if (index >= 0 && index < m_tabVisible.size()) {
        m_tabVisible[index] = visible;
        m_strip->update();
    }
}

int ElPageControl::ActivePageIndex() const { return m_stack->currentIndex(); }

void ElPageControl::setActivePageIndex(int index)
{
    if (index < 0 || index >= pageCount() || index == ActivePageIndex())
        return;
    bool allowChange = true;
    if (OnChanging)
        OnChanging(page(index), allowChange);
    if (!allowChange)
        return;
    m_stack->setCurrentIndex(index);
    m_strip->update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(m_strip, QAccessible::Selection);
        QAccessible::updateAccessibility(&event);
    }
    if (OnChange)
        OnChange();
}

QRect ElPageControl::tabRect(int index) const
{
    const QRect r = m_strip->tabRect(index);
    return r.isEmpty() ? r : r.translated(m_strip->pos());
}

int ElPageControl::neighbourTab(int from, int step) const
{
    for (int i = from + step; i >= 0 && i < pageCount(); i += step) {
        if (isTabVisible(i))
            return i;
    }
    return from;
}

void ElPageControl::keyPressEvent(QKeyEvent *event)
{
    // Ctrl+Tab and Ctrl+Shift+Tab move between the visible tabs from anywhere on a page.
    if (event->modifiers() & Qt::ControlModifier) {
        if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_PageDown) {
            setActivePageIndex(neighbourTab(ActivePageIndex(), +1));
            return;
        }
        if (event->key() == Qt::Key_Backtab || event->key() == Qt::Key_PageUp) {
            setActivePageIndex(neighbourTab(ActivePageIndex(), -1));
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

} // namespace qm
