#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

#include <functional>

class QStackedWidget;

namespace qm {

class ElTabStrip;

// A page control with flat tabs. Every change of the active page, whether a click on a
// tab, the keyboard, assistive technology or the program, goes through
// setActivePageIndex(): OnChanging runs first, while the old page is still active, and
// may refuse the change; then the page changes and OnChange runs.
class ElPageControl final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(int ActivePageIndex READ ActivePageIndex WRITE setActivePageIndex)

public:
    explicit ElPageControl(QWidget *parent = nullptr);
    ~ElPageControl() override;

    // Adds a page; its tab caption is the page's windowTitle, and a page whose dynamic
    // property "tabVisible" is false gets no visible tab.
    void addPage(QWidget *page);

    int pageCount() const;
    QWidget *page(int index) const;
    QString tabCaption(int index) const;
    bool isTabVisible(int index) const;
    void setTabVisible(int index, bool visible);

    int ActivePageIndex() const;
    void setActivePageIndex(int index);

    // Where the tab of a page is drawn, in this control's coordinates; empty for a hidden tab.
    QRect tabRect(int index) const;

    // Handlers. AllowChange arrives true (every tab is enabled).
    std::function<void(QWidget *newPage, bool &allowChange)> OnChanging;
    std::function<void()> OnChange;

    // Appearance.
    int TabHeight = 28;
    QColor ActiveTabColor = Qt::white;
    QColor InactiveTabColor{0xE4, 0xE0, 0xDE};
    QColor TabBkColor{0xE4, 0xE0, 0xDE};
    QColor FlatTabBorderColor = Qt::white;
    QColor TextColor = Qt::black;
    QColor HotTrackColor{0xFF, 0x80, 0x00};
    QFont TabFont;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    friend class ElTabStrip;
    int neighbourTab(int from, int step) const;

    ElTabStrip *m_strip;
    QStackedWidget *m_stack;
    QList<bool> m_tabVisible;
};

} // namespace qm
