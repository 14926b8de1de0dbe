#include "platform/widgets/ElPageControl.h"

#include "platform/widgets/Controls.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QHash>
#include <QMouseEvent>
#include <QPointer>
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

// Assistive technology sees the strip as a list of page tabs; pressing a tab goes through
// the control like a click, so the veto holds there too.
class AccessibleTab final : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    AccessibleTab(ElTabStrip *strip, ElPageControl *control, int index)
        : m_strip(strip), m_control(control), m_index(index)
    {
    }

    bool isValid() const override { return m_strip && m_control && m_index < m_control->pageCount(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_strip ? m_strip->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_strip.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name && isValid() ? m_control->tabCaption(m_index).trimmed() : QString();
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect r = m_strip->tabRect(m_index);
        return QRect(m_strip->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::PageTab; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        s.focusable = true;
        s.selectable = true;
        s.selected = isValid() && m_control->ActivePageIndex() == m_index;
        s.invisible = !isValid() || !m_control->isTabVisible(m_index);
        return s;
    }
    void *interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this) : nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString &name) override
    {
        // A hidden tab, or one of a hidden or refused page control, is pressed in vain.
        if (name == pressAction() && isValid() && m_control->isTabVisible(m_index) && canAct(m_control))
            m_control->setActivePageIndex(m_index);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    QPointer<ElTabStrip> m_strip;
    QPointer<ElPageControl> m_control;
    int m_index;
};

class AccessibleTabStrip final : public QAccessibleWidget
{
public:
    explicit AccessibleTabStrip(ElTabStrip *strip) : QAccessibleWidget(strip, QAccessible::PageTabList) {}

    ~AccessibleTabStrip() override
    {
        for (const QAccessible::Id id : std::as_const(m_tabs))
            QAccessible::deleteAccessibleInterface(id);
    }

    int childCount() const override { return int(visibleTabs().size()); }

    QAccessibleInterface *child(int index) const override
    {
        const QList<int> tabs = visibleTabs();
        if (index < 0 || index >= tabs.size())
            return nullptr;
        const int page = tabs.at(index);
        if (!m_tabs.contains(page)) {
            auto *tab = new AccessibleTab(strip(), control(), page);
            m_tabs.insert(page, QAccessible::registerAccessibleInterface(tab));
        }
        return QAccessible::accessibleInterface(m_tabs.value(page));
    }

    int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (auto it = m_tabs.cbegin(); it != m_tabs.cend(); ++it) {
            if (QAccessible::accessibleInterface(it.value()) == child)
                return int(visibleTabs().indexOf(it.key()));
        }
        return -1;
    }

    QAccessibleInterface *childAt(int x, int y) const override
    {
        const int page = strip()->tabAt(strip()->mapFromGlobal(QPoint(x, y)));
        return page < 0 ? nullptr : child(int(visibleTabs().indexOf(page)));
    }

private:
    ElTabStrip *strip() const { return static_cast<ElTabStrip *>(widget()); }
    ElPageControl *control() const { return static_cast<ElPageControl *>(widget()->parentWidget()); }

    QList<int> visibleTabs() const
    {
        QList<int> tabs;
        for (int i = 0; i < control()->pageCount(); ++i) {
            if (control()->isTabVisible(i))
                tabs.append(i);
        }
        return tabs;
    }

    mutable QHash<int, QAccessible::Id> m_tabs;
};

QAccessibleInterface *accessibleTabStripFactory(const QString &, QObject *object)
{
    if (auto *strip = dynamic_cast<ElTabStrip *>(object))
        return new AccessibleTabStrip(strip);
    return nullptr;
}

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
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(accessibleTabStripFactory);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
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
