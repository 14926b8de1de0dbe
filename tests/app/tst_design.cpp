// The window as the player sees it: every control of the header and of the five pages,
// one row each, read back from the widgets the window shows. Colours that a control
// paints itself are read from a grab of what it paints.

#include "WindowFixture.h"

#include <QBitArray>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>

#include <array>
#include <cmath>
#include <QToolButton>

using fixture::Prefix;
using fixture::Window;

namespace {

// How a row's look is read.
enum class Look {
    Label,      // a label or other control on a page; its fill read through the page's grab
    Form,       // the window itself
    Panel,      // a header or footer strip
    Banner,     // the banner image in its panel
    PageControl, // the tab strip behind the tabs
    Tab,        // a page, its tab in the strip
    HotTab,     // the tab under the mouse
    Button,     // a flat link button painting its own background
    Combo,      // the account entry and its drop-down button
    Entry,      // a text entry
};

enum class Sizing { Fixed, ToCaption };

constexpr QRgb Transparent = 0x01000000; // no fill of its own: the page shows through
constexpr QRgb None = 0x02000000;        // not applicable
constexpr QRgb WindowText = 0xFF000000;
constexpr QRgb White = 0xFFFFFFFF;
constexpr QRgb Red = 0xFFFF0000;
constexpr QRgb Link = 0xFF897E6B;
constexpr QRgb Orange = 0xFFFF8000;
constexpr QRgb Buff = 0xFFDCD7CB;
constexpr QRgb Parchment = 0xFFF7F5EE;
constexpr QRgb TabGrey = 0xFFE4E0DE;
constexpr QRgb ButtonFill = 0xFFEFECDE;

struct Control
{
    const char *name;
    const char *kind;
    const char *parent; // the nearest named control it lies in
    Look look;
    QRect geometry;     // within the parent
    Sizing sizing;
    const char *caption; // nullptr: none
    int pixelSize;       // 0: no font of its own to check
    bool bold;
    bool underline;
    QRgb text;           // the colour of its text
    QRgb fill;           // its background as painted
    bool shown;          // visible at start (for a page: its tab)
    int tabOrder;        // among the focusable controls of the same parent; -1: none
};

const char *const Welcome = "Welcome to the Quenmar Online helpcentre beta2 , here you can solve a few of the common "
                            "troubles with Quenmar Online.";

// The window, page by page.
const Control Design[] = {
    // The frame.
    {"Form1", "TForm1", "", Look::Form, {0, 0, 535, 392}, Sizing::Fixed, "Quenmar Helpcentre", 11, false, false,
     WindowText, White, true, -1},
    {"Panel1", "QFrame", "Form1", Look::Panel, {0, 0, 535, 53}, Sizing::Fixed, nullptr, 0, false, false, None, Buff,
     true, 0},
    {"Image1", "QLabel", "Panel1", Look::Banner, {280, 0, 255, 53}, Sizing::Fixed, nullptr, 0, false, false, None,
     None, true, -1},
    {"Panel2", "QFrame", "Form1", Look::Panel, {0, 53, 535, 9}, Sizing::Fixed, nullptr, 0, false, false, None,
     Parchment, true, 1},
    {"Panel3", "QFrame", "Form1", Look::Panel, {0, 383, 535, 9}, Sizing::Fixed, nullptr, 0, false, false, None,
     Parchment, true, 2},
    {"ElPageControl1", "qm::ElPageControl", "Form1", Look::PageControl, {0, 62, 535, 321}, Sizing::Fixed, nullptr, 11,
     false, false, WindowText, TabGrey, true, 3},
    {"ElPageControl1", "qm::ElPageControl", "Form1", Look::HotTab, {0, 62, 535, 321}, Sizing::Fixed, nullptr, 11,
     false, false, Orange, None, true, 3},
    {"ElTabSheet1", "QWidget", "ElPageControl1", Look::Tab, {0, 30, 535, 291}, Sizing::Fixed,
     "Installation information   ", 11, false, false, WindowText, White, true, -1},
    {"ElTabSheet2", "QWidget", "ElPageControl1", Look::Tab, {0, 30, 535, 291}, Sizing::Fixed, "Connection test   ", 11,
     false, false, WindowText, TabGrey, true, -1},
    {"ElTabSheet3", "QWidget", "ElPageControl1", Look::Tab, {0, 30, 535, 291}, Sizing::Fixed, "Clean cachefiles   ",
     11, false, false, WindowText, TabGrey, true, -1},
    {"ElTabSheet4", "QWidget", "ElPageControl1", Look::Tab, {0, 30, 535, 291}, Sizing::Fixed,
     "Password recovery help", 11, false, false, WindowText, TabGrey, true, -1},
    {"ElTabSheet5", "QWidget", "ElPageControl1", Look::Tab, {0, 30, 535, 291}, Sizing::Fixed, "", 11, false, false,
     WindowText, None, false, -1},

    // Installation information.
    {"Label5", "QLabel", "ElTabSheet1", Look::Label, {24, 24, 410, 49}, Sizing::Fixed, Welcome, 13, false, false,
     WindowText, Transparent, true, -1},
    {"Label1", "QLabel", "ElTabSheet1", Look::Label, {24, 104, 144, 16}, Sizing::ToCaption,
     "Quenmar installation path", 13, false, false, WindowText, Transparent, true, -1},
    {"Label3", "QLabel", "ElTabSheet1", Look::Label, {184, 104, 6, 16}, Sizing::ToCaption, "-", 13, true, false,
     WindowText, Transparent, true, -1},
    {"Label2", "QLabel", "ElTabSheet1", Look::Label, {24, 128, 123, 16}, Sizing::ToCaption, "Current client version",
     13, false, false, WindowText, Transparent, true, -1},
    {"Label4", "QLabel", "ElTabSheet1", Look::Label, {184, 128, 6, 16}, Sizing::ToCaption, "-", 13, true, false,
     WindowText, Transparent, true, -1},
    {"Label14", "QLabel", "ElTabSheet1", Look::Label, {24, 168, 98, 16}, Sizing::ToCaption, "Current server IP", 13,
     false, false, WindowText, Transparent, true, -1},
    {"Label15", "QLabel", "ElTabSheet1", Look::Label, {184, 168, 6, 16}, Sizing::ToCaption, "-", 13, true, false,
     WindowText, Transparent, true, -1},
    {"Label16", "QLabel", "ElTabSheet1", Look::Label, {24, 192, 109, 16}, Sizing::ToCaption, "Current server port", 13,
     false, false, WindowText, Transparent, true, -1},
    {"Label17", "QLabel", "ElTabSheet1", Look::Label, {184, 192, 6, 16}, Sizing::ToCaption, "-", 13, true, false,
     WindowText, Transparent, true, -1},

    // Connection test.
    {"Label7", "QLabel", "ElTabSheet2", Look::Label, {24, 24, 410, 49}, Sizing::Fixed,
     "Please wait while this program is testing your connection to the Quenmar gameserver, if one of the tests "
     "fails there is something wrong",
     13, false, false, WindowText, Transparent, true, -1},
    {"Label6", "QLabel", "ElTabSheet2", Look::Label, {24, 80, 138, 16}, Sizing::ToCaption, "Local tcp loopback test",
     13, false, false, WindowText, Transparent, true, -1},
    {"Label10", "QLabel", "ElTabSheet2", Look::Label, {272, 80, 40, 16}, Sizing::ToCaption, "failed", 13, true, false,
     Red, Transparent, true, -1},
    {"Label18", "QLabel", "ElTabSheet2", Look::Label, {24, 104, 122, 16}, Sizing::ToCaption, "Remote tcp ping test",
     13, false, false, WindowText, Transparent, true, -1},
    {"Label19", "QLabel", "ElTabSheet2", Look::Label, {272, 104, 40, 16}, Sizing::ToCaption, "failed", 13, true, false,
     Red, Transparent, true, -1},
    {"Label8", "QLabel", "ElTabSheet2", Look::Label, {24, 128, 129, 16}, Sizing::ToCaption, "Testing ping to server",
     13, false, false, WindowText, Transparent, true, -1},
    {"Label11", "QLabel", "ElTabSheet2", Look::Label, {272, 128, 40, 16}, Sizing::ToCaption, "failed", 13, true, false,
     Red, Transparent, true, -1},
    {"Label9", "QLabel", "ElTabSheet2", Look::Label, {24, 152, 122, 16}, Sizing::ToCaption, "Testing quenmar port", 13,
     false, false, WindowText, Transparent, true, -1},
    {"Label12", "QLabel", "ElTabSheet2", Look::Label, {272, 152, 40, 16}, Sizing::ToCaption, "failed", 13, true, false,
     Red, Transparent, true, -1},
    {"Label20", "QLabel", "ElTabSheet2", Look::Label, {24, 200, 112, 16}, Sizing::ToCaption, "Your test results", 13,
     true, true, WindowText, Transparent, true, -1},
    {"Label13", "QLabel", "ElTabSheet2", Look::Label, {24, 224, 497, 49}, Sizing::Fixed,
     "Please wait for the test to finish", 13, false, false, WindowText, Transparent, true, -1},

    // Clean cachefiles.
    {"Label21", "QLabel", "ElTabSheet3", Look::Label, {24, 24, 481, 49}, Sizing::Fixed,
     "Deleting cache files will force the server to update your dynamic map & game data files. This might solve "
     "weird looking maps, and other issues.",
     13, false, false, WindowText, Transparent, true, -1},
    {"Label22", "QLabel", "ElTabSheet3", Look::Label, {24, 72, 481, 25}, Sizing::Fixed,
     "Caution : delete operations will be performed on your harddisk!", 13, false, true, WindowText, Transparent,
     true, -1},
    {"SpeedButton1", "qm::TElPopupButton", "ElTabSheet3", Look::Button, {24, 96, 217, 49}, Sizing::Fixed,
     "start cleaning my files", 16, false, true, WindowText, ButtonFill, true, 1},
    {"Memo1", "qm::TMemo", "ElTabSheet3", Look::Entry, {24, 96, 489, 185}, Sizing::Fixed, "", 13, false, false,
     WindowText, None, false, 0},

    // Password recovery help.
    {"Label23", "QLabel", "ElTabSheet4", Look::Label, {24, 24, 481, 49}, Sizing::Fixed,
     "In certain cases you might lost your account password. Please visit our password recovery webpage first, if "
     "this fails you can try the second option as well.",
     13, false, false, WindowText, Transparent, true, -1},
    {"Label24", "qm::TLinkLabel", "ElTabSheet4", Look::Label, {24, 80, 272, 16}, Sizing::ToCaption,
     "Click here to recover password on mainserver", 13, false, true, Link, Transparent, true, -1},
    {"Label26", "QLabel", "ElTabSheet4", Look::Label, {304, 81, 79, 13}, Sizing::ToCaption, "( recommended )", 11,
     false, false, WindowText, Transparent, true, -1},
    {"Label25", "qm::TLinkLabel", "ElTabSheet4", Look::Label, {24, 104, 371, 16}, Sizing::ToCaption,
     "Or click here in case you are playing on the Quenmar test server", 13, false, true, Link, Transparent, true, -1},
    {"Label31", "QLabel", "ElTabSheet4", Look::Label, {24, 160, 115, 16}, Sizing::ToCaption, "Your account name", 13,
     false, false, WindowText, Transparent, true, -1},
    {"Label32", "QLabel", "ElTabSheet4", Look::Label, {24, 194, 161, 16}, Sizing::ToCaption,
     "Your realname OR location", 13, false, false, WindowText, Transparent, true, -1},
    {"Edit1", "qm::TElComboBox", "ElTabSheet4", Look::Combo, {208, 160, 193, 25}, Sizing::Fixed, "", 16, true, false,
     WindowText, Buff, true, 0},
    {"Edit2", "QLineEdit", "ElTabSheet4", Look::Entry, {206, 192, 198, 30}, Sizing::Fixed, "", 16, true, false,
     WindowText, None, true, 1},
    {"ElPopupButton1", "qm::TElPopupButton", "ElTabSheet4", Look::Button, {206, 240, 200, 41}, Sizing::Fixed,
     "recover my password", 16, false, true, WindowText, ButtonFill, true, 2},

    // The folder prompt.
    {"Label27", "QLabel", "ElTabSheet5", Look::Label, {24, 24, 410, 49}, Sizing::Fixed, Welcome, 13, false, false,
     WindowText, Transparent, true, -1},
    {"Label28", "QLabel", "ElTabSheet5", Look::Label, {24, 104, 489, 25}, Sizing::Fixed,
     "Could not detect your Quenmar Online folder, please enter it here..", 13, true, false, WindowText, Transparent,
     true, -1},
    {"Label29", "QLabel", "ElTabSheet5", Look::Label, {24, 152, 86, 16}, Sizing::ToCaption, "Quenmar folder", 13,
     false, false, WindowText, Transparent, true, -1},
    {"ElFolderNameEdit1", "qm::ElFolderNameEdit", "ElTabSheet5", Look::Entry, {128, 144, 377, 25}, Sizing::Fixed,
     "c:\\", 11, false, false, WindowText, None, true, 0},
};

QString hex(QRgb colour)
{
    return QColor::fromRgba(colour).name(QColor::HexArgb).toUpper();
}

QWidget *named(TForm1 &form, const char *name)
{
    if (qstrcmp(name, "Form1") == 0)
        return &form;
    return form.findChild<QWidget *>(QLatin1String(name));
}

// The canvas a control is seen on: its page when it lies on one, else the window.
QWidget *canvasOf(TForm1 &form, QWidget *widget)
{
    for (QWidget *w = widget; w && w != &form; w = w->parentWidget()) {
        if (w->objectName().startsWith(QLatin1String("ElTabSheet")))
            return w;
    }
    return &form;
}

QRgb pixelAt(const QImage &image, QPoint at)
{
    return image.pixelColor(at).rgba();
}

// How many pixels within `area` of the image have exactly this colour.
int countColour(const QImage &image, const QRect &area, QRgb colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            count += image.pixelColor(x, y).rgba() == colour ? 1 : 0;
    }
    return count;
}

// Whether the strongest ink within `area`, the pixel farthest from the background, is the
// given colour, or nearly: a letter's stem covers whole pixels, only its smoothed edges
// blend with the background.
bool inked(const QImage &image, const QRect &area, QRgb background, QRgb colour)
{
    const auto channels = [](QRgb c) { return std::array<double, 3>{double(qRed(c)), double(qGreen(c)), double(qBlue(c))}; };
    const auto bg = channels(background);
    const auto target = channels(colour);
    double farthest = 0;
    std::array<double, 3> ink = bg;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const auto p = channels(image.pixel(x, y));
            const double d = (p[0] - bg[0]) * (p[0] - bg[0]) + (p[1] - bg[1]) * (p[1] - bg[1])
                           + (p[2] - bg[2]) * (p[2] - bg[2]);
            if (d > farthest) {
                farthest = d;
                ink = p;
            }
        }
    }
    double along = 0, length = 0;
    for (int i = 0; i < 3; ++i) {
        along += (ink[i] - bg[i]) * (target[i] - bg[i]);
        length += (target[i] - bg[i]) * (target[i] - bg[i]);
    }
    if (farthest == 0 || length == 0)
        return false;
    const double share = along / length;
    if (share < 0.9 || share > 1.1)
        return false;
    for (int i = 0; i < 3; ++i) {
        if (std::abs(ink[i] - (bg[i] + share * (target[i] - bg[i]))) > 20)
            return false;
    }
    return true;
}

// Which pixels of `area` differ from the background: the shape of what is written there.
QBitArray inkShape(const QImage &image, const QRect &area, QRgb background)
{
    QBitArray shape(int(area.width() * area.height()));
    int i = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x)
            shape.setBit(i++, image.pixel(x, y) != background);
    }
    return shape;
}

// Brings a control's page to the front as the page control would, without the page
// change's handlers: the controls of a page are laid out and painted only when it shows.
void bringPageForward(QWidget *widget)
{
    QWidget *page = widget;
    while (page && !page->objectName().startsWith(QLatin1String("ElTabSheet")))
        page = page->parentWidget();
    if (!page)
        return;
    auto *stack = qobject_cast<QStackedWidget *>(page->parentWidget());
    QVERIFY(stack);
    stack->setCurrentWidget(page);
    QCoreApplication::sendPostedEvents();
}

// Position in the window's focus chain.
int chainPosition(TForm1 &form, QWidget *widget)
{
    QWidget *target = widget->focusProxy() ? widget->focusProxy() : widget;
    int position = 0;
    for (QWidget *w = form.nextInFocusChain(); w != &form; w = w->nextInFocusChain(), ++position) {
        if (w == target)
            return position;
    }
    return -1;
}

bool takesFocus(QWidget *widget)
{
    QWidget *target = widget->focusProxy() ? widget->focusProxy() : widget;
    return target->focusPolicy() & Qt::TabFocus;
}

// A page's index, from its name: ElTabSheet1 is page 0.
int pageIndex(const Control &page)
{
    return page.name[qstrlen(page.name) - 1] - '1';
}

QString captionOf(QWidget *widget)
{
    if (widget->isWindow())
        return widget->windowTitle();
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *button = qobject_cast<QPushButton *>(widget))
        return button->text();
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return combo->currentText();
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    if (auto *memo = qobject_cast<QPlainTextEdit *>(widget))
        return memo->toPlainText();
    if (auto *folder = qobject_cast<qm::ElFolderNameEdit *>(widget))
        return folder->text();
    return QString();
}

QColor textColourOf(QWidget *widget)
{
    if (qobject_cast<QPushButton *>(widget))
        return widget->palette().color(QPalette::ButtonText);
    if (auto *folder = qobject_cast<qm::ElFolderNameEdit *>(widget))
        return folder->lineEdit()->palette().color(QPalette::Text);
    if (qobject_cast<QComboBox *>(widget) || qobject_cast<QLineEdit *>(widget)
        || qobject_cast<QPlainTextEdit *>(widget))
        return widget->palette().color(QPalette::Text);
    return widget->palette().color(QPalette::WindowText);
}

} // namespace

Q_DECLARE_METATYPE(const Control *)

class TestDesign : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void controls_data();
    void controls();
    void everyControlHasARow();

private:
    std::unique_ptr<Prefix> m_prefix;
    std::unique_ptr<Window> m_window;
};

void TestDesign::init()
{
    // The registry's "Directory" is no text: the detection stops at once and every
    // control keeps the caption it was designed with, on page 0.
    m_prefix = std::make_unique<Prefix>();
    m_prefix->writeUserReg("\"Directory\"=dword:00000001");
    m_window = std::make_unique<Window>(*m_prefix);
    m_window->show();
    QCOMPARE(m_window->exceptions.size(), 1);
    QCOMPARE(m_window->form->ElPageControl1->ActivePageIndex(), 0);
}

void TestDesign::cleanup()
{
    m_window.reset();
    m_prefix.reset();
    const QWidgetList windows = QApplication::topLevelWidgets();
    QVERIFY2(std::none_of(windows.cbegin(), windows.cend(), [](QWidget *w) { return w->isVisible(); }),
             "a window was left open");
}

void TestDesign::controls_data()
{
    QTest::addColumn<const Control *>("control");
    for (const Control &control : Design) {
        const char *look = control.look == Look::HotTab ? " (tab under the mouse)" : "";
        QTest::addRow("%s%s", control.name, look) << &control;
    }
}

void TestDesign::controls()
{
    QFETCH(const Control *, control);
    TForm1 &form = *m_window->form;
    const Control &c = *control;

    // Name, kind and where it lies.
    QWidget *widget = named(form, c.name);
    QVERIFY2(widget, c.name);
    QCOMPARE(widget->metaObject()->className(), c.kind);
    // The tabs as the window opens, page 0 in front; then the control's own page.
    const QImage stripAtStart = form.ElPageControl1->focusProxy()->grab().toImage();
    bringPageForward(widget);
    if (*c.parent) {
        QWidget *parent = named(form, c.parent);
        QVERIFY(parent);
        QVERIFY(parent->isAncestorOf(widget));
        const QRect geometry(widget->mapTo(parent, QPoint(0, 0)), widget->size());
        if (c.sizing == Sizing::Fixed) {
            QCOMPARE(geometry, c.geometry);
        } else {
            // Sized to its caption in the face the system has: the place is the design's.
            QCOMPARE(geometry.topLeft(), c.geometry.topLeft());
            QCOMPARE(widget->size(), widget->sizeHint());
        }
    } else {
        QCOMPARE(widget->size(), c.geometry.size());
        QCOMPARE(widget->minimumSize(), c.geometry.size());
        QCOMPARE(widget->maximumSize(), c.geometry.size());
    }

    // A fixed-size label wraps its words; the others keep one line.
    if (auto *label = qobject_cast<QLabel *>(widget); label && c.look == Look::Label)
        QCOMPARE(label->wordWrap(), c.sizing == Sizing::Fixed);

    // Caption, exactly.
    if (c.caption) {
        QString caption;
        if (c.look == Look::Tab) {
            const int index = pageIndex(c);
            caption = form.ElPageControl1->isTabVisible(index) ? form.ElPageControl1->tabCaption(index) : QString();
        } else {
            caption = captionOf(widget);
        }
        QCOMPARE(caption, QString::fromLatin1(c.caption));
    }

    // Font.
    if (c.pixelSize) {
        const QFont font = c.look == Look::Tab || c.look == Look::PageControl || c.look == Look::HotTab
                               ? form.ElPageControl1->TabFont
                               : widget->font();
        QCOMPARE(font.family(), QStringLiteral("MS Sans Serif"));
        QCOMPARE(font.pixelSize(), c.pixelSize);
        QCOMPARE(font.bold(), c.bold);
        QCOMPARE(font.underline(), c.underline);
    }

    // Visible at start; for a page, its tab.
    if (c.look == Look::Tab) {
        const int index = pageIndex(c);
        QCOMPARE(form.ElPageControl1->page(index), widget);
        QCOMPARE(form.ElPageControl1->isTabVisible(index), c.shown);
    } else {
        QCOMPARE(!widget->isHidden(), c.shown);
    }

    // Tab order: the focusable controls of one parent follow each other in the design's order.
    if (c.tabOrder >= 0 && takesFocus(widget)) {
        const int position = chainPosition(form, widget);
        QVERIFY(position >= 0);
        for (const Control &other : Design) {
            if (qstrcmp(other.parent, c.parent) != 0 || other.tabOrder < 0 || qstrcmp(other.name, c.name) == 0)
                continue;
            QWidget *sibling = named(form, other.name);
            if (!takesFocus(sibling))
                continue;
            const int otherPosition = chainPosition(form, sibling);
            QVERIFY2(other.tabOrder < c.tabOrder ? otherPosition < position : otherPosition > position,
                     qPrintable(QStringLiteral("%1 before %2 when tabbing").arg(
                         QLatin1String(other.tabOrder < c.tabOrder ? other.name : c.name),
                         QLatin1String(other.tabOrder < c.tabOrder ? c.name : other.name))));
        }
    } else {
        QVERIFY2(c.tabOrder >= 0 || !takesFocus(widget) || c.look == Look::Label || c.look == Look::Tab,
                 "takes focus outside the design's tab order");
    }

    // Colours, as painted.
    switch (c.look) {
    case Look::Label: {
        QCOMPARE(hex(textColourOf(widget).rgba()), hex(c.text));
        // Links point with a hand.
        if (c.text == Link)
            QCOMPARE(widget->cursor().shape(), Qt::PointingHandCursor);
        QWidget *canvas = canvasOf(form, widget);
        const QImage page = canvas->grab().toImage();
        // The top-left corner of a label lies above its first letter: the label's own
        // background, or the page through a transparent one.
        const QRgb seen = pixelAt(page, widget->mapTo(canvas, QPoint(0, 0)));
        QCOMPARE(hex(seen), hex(c.fill == Transparent ? White : c.fill));
        // And its letters in their colour.
        QVERIFY(inked(page, QRect(widget->mapTo(canvas, QPoint(0, 0)), widget->size()),
                      c.fill == Transparent ? White : c.fill, c.text));
        break;
    }
    case Look::Form: {
        QCOMPARE(hex(textColourOf(widget).rgba()), hex(c.text));
        // Below the last line of a page, the window's own colour.
        const QImage image = form.grab().toImage();
        QCOMPARE(hex(pixelAt(image, QPoint(530, 380))), hex(c.fill));
        // Where nothing covers it, the window shows its own colour.
        QCOMPARE(hex(widget->palette().color(QPalette::Window).rgba()), hex(c.fill));
        QVERIFY(widget->autoFillBackground());
        break;
    }
    case Look::Panel: {
        const QImage image = form.grab().toImage();
        const QRect area(widget->mapTo(&form, QPoint(0, 0)), widget->size());
        // The panel's colour across its width left of the banner, with no bevel.
        const int right = c.geometry.top() == 0 ? 279 : area.right();
        QCOMPARE(countColour(image, QRect(area.left(), area.top(), right - area.left() + 1, area.height()), c.fill),
                 (right - area.left() + 1) * area.height());
        break;
    }
    case Look::Banner: {
        auto *image = qobject_cast<QLabel *>(widget);
        QVERIFY(image);
        const QPixmap banner = image->pixmap();
        QCOMPARE(banner.size(), QSize(257, 53));
        // Shown at its own size from the top-left corner: the two rightmost columns are cut.
        const QImage shown = form.grab(QRect(image->mapTo(&form, QPoint(0, 0)), image->size()))
                                 .toImage()
                                 .convertToFormat(QImage::Format_RGB32);
        const QImage expected = banner.toImage().copy(0, 0, 255, 53).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(shown.size(), expected.size());
        QVERIFY2(shown == expected, "the banner is not shown at its own size from its top-left corner");
        // The cut columns differ from what is shown, so a banner moved left would show.
        QVERIFY(banner.toImage().copy(2, 0, 255, 53).convertToFormat(QImage::Format_RGB32) != expected);
        break;
    }
    case Look::PageControl: {
        qm::ElPageControl *control = form.ElPageControl1;
        QWidget *strip = control->focusProxy();
        const QImage image = strip->grab().toImage();
        // The strip behind the tabs: two rows above them and everything right of the last.
        QCOMPARE(strip->geometry(), QRect(0, 0, 535, 30));
        QCOMPARE(hex(pixelAt(image, QPoint(0, 0))), hex(c.fill));
        QCOMPARE(hex(pixelAt(image, QPoint(534, 29))), hex(c.fill));
        // The tabs, 28 pixels high, stand on its bottom edge; the active one is white from
        // its top to the page.
        for (int i = 0; i < 4; ++i) {
            const QRect tab = control->tabRect(i);
            QCOMPARE(tab.height(), 28);
            QCOMPARE(tab.bottom(), 29);
        }
        const QRect active = control->tabRect(0);
        for (int y = 0; y < 30; ++y)
            QCOMPARE(hex(pixelAt(image, QPoint(active.left() + 1, y))), hex(y < 2 ? c.fill : White));
        // A white line parts each tab from the next.
        QCOMPARE(hex(pixelAt(image, QPoint(control->tabRect(1).right() + 1, 15))), hex(White));
        // The captions in the window text colour.
        QVERIFY(inked(image, control->tabRect(1), TabGrey, c.text));
        // The page below the strip is white.
        const QImage whole = control->grab().toImage();
        QCOMPARE(hex(pixelAt(whole, QPoint(534, 320))), hex(White));
        break;
    }
    case Look::HotTab: {
        qm::ElPageControl *control = form.ElPageControl1;
        QWidget *strip = control->focusProxy();
        const QRgb tabColours[] = {White, TabGrey, TabGrey, TabGrey};
        const QImage before = strip->grab().toImage();
        QVERIFY(!inked(before, control->tabRect(2), TabGrey, c.text));
        QTest::mouseMove(strip, control->tabRect(2).center());
        const QImage image = strip->grab().toImage();
        QVERIFY2(inked(image, control->tabRect(2), TabGrey, c.text), "the tab under the mouse is not in its colour");
        for (int i : {0, 1, 3})
            QVERIFY(!inked(image, control->tabRect(i).adjusted(4, 5, -5, -6), tabColours[i], c.text));
        // The hot-track font is the tabs' font: the caption's letters cover the same pixels.
        QCOMPARE(inkShape(image, control->tabRect(2), TabGrey), inkShape(before, control->tabRect(2), TabGrey));
        QTest::mouseMove(&form, QPoint(10, 10));
        break;
    }
    case Look::Tab: {
        qm::ElPageControl *control = form.ElPageControl1;
        const int index = pageIndex(c);
        if (!c.shown) {
            QVERIFY(control->tabRect(index).isEmpty());
            break;
        }
        const QImage &image = stripAtStart;
        const QRect tab = control->tabRect(index);
        QCOMPARE(hex(pixelAt(image, tab.topLeft() + QPoint(2, 2))), hex(c.fill));
        QCOMPARE(hex(pixelAt(image, tab.bottomRight() - QPoint(2, 2))), hex(c.fill));
        // Inside the focus frame of the active tab: the caption alone.
        QVERIFY(inked(image, tab.adjusted(4, 5, -5, -6), c.fill, c.text));
        // The page itself, white.
        const QImage page = widget->grab().toImage();
        QCOMPARE(hex(pixelAt(page, QPoint(534, 290))), hex(White));
        break;
    }
    case Look::Button: {
        QCOMPARE(hex(textColourOf(widget).rgba()), hex(c.text));
        const QImage image = widget->grab().toImage();
        for (const QPoint corner : {QPoint(0, 0), QPoint(widget->width() - 1, 0), QPoint(0, widget->height() - 1),
                                    QPoint(widget->width() - 1, widget->height() - 1)})
            QCOMPARE(hex(pixelAt(image, corner)), hex(c.fill));
        QVERIFY(inked(image, widget->rect(), c.fill, c.text));
        QCOMPARE(widget->cursor().shape(), Qt::PointingHandCursor);
        break;
    }
    case Look::Combo: {
        QCOMPARE(hex(textColourOf(widget).rgba()), hex(c.text));
        // The drop-down button: 30 pixels of its colour at the right edge.
        const QImage image = widget->grab().toImage();
        const int width = widget->width();
        QCOMPARE(hex(pixelAt(image, QPoint(width - 1, 1))), hex(c.fill));
        QCOMPARE(hex(pixelAt(image, QPoint(width - 30, 1))), hex(c.fill));
        QVERIFY(pixelAt(image, QPoint(width - 31, 1)) != c.fill);
        auto *combo = static_cast<qm::TElComboBox *>(widget);
        QCOMPARE(combo->DropDownWidth, 30);
        QCOMPARE(combo->ItemHeight, 20);
        QCOMPARE(combo->TopMargin, 5);
        QCOMPARE(combo->RightMargin, 1);
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->cursor().shape(), Qt::IBeamCursor);
        break;
    }
    case Look::Entry:
        QCOMPARE(hex(textColourOf(widget).rgba()), hex(c.text));
        // The entries' own settings: margins, the browse button, the memo's frame and bar.
        if (auto *folder = qobject_cast<qm::ElFolderNameEdit *>(widget)) {
            QCOMPARE(folder->browseButton()->width(), 30);
            QCOMPARE(folder->browseButton()->geometry().right(), folder->width() - 1);
            QCOMPARE(folder->browseButton()->iconSize(), QSize(13, 11));
            QCOMPARE(folder->DialogTitle, QStringLiteral("Where is Quenmar installed?"));
            QVERIFY(!folder->lineEdit()->hasFrame());
            QCOMPARE(folder->lineEdit()->textMargins(), QMargins(0, 6, 1, 0));
        } else if (auto *edit = qobject_cast<QLineEdit *>(widget)) {
            QVERIFY(!edit->hasFrame());
            QCOMPARE(edit->textMargins(), QMargins(0, 6, 1, 0));
            QCOMPARE(edit->cursor().shape(), Qt::IBeamCursor);
        } else if (auto *memo = qobject_cast<QPlainTextEdit *>(widget)) {
            QVERIFY(memo->isReadOnly());
            QCOMPARE(memo->frameShape(), QFrame::NoFrame);
            QCOMPARE(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
            QVERIFY(memo->tabChangesFocus());
        }
        break;
    }
}

// Nothing on the window escapes the table: every named control has its row.
void TestDesign::everyControlHasARow()
{
    TForm1 &form = *m_window->form;
    QSet<QString> listed;
    for (const Control &control : Design)
        listed.insert(QLatin1String(control.name));
    const QStringList names = [&] {
        QStringList result;
        for (QWidget *child : form.findChildren<QWidget *>()) {
            const QString name = child->objectName();
            // Controls of the design are named after their kind and number.
            if (name.contains(QRegularExpression(QStringLiteral("^(Label|Panel|Image|ElTabSheet|ElPageControl|Edit|"
                                                                 "SpeedButton|ElPopupButton|Memo|ElFolderNameEdit)"
                                                                 "\\d+$"))))
                result.append(name);
        }
        return result;
    }();
    for (const QString &name : names)
        QVERIFY2(listed.contains(name), qPrintable(name + QStringLiteral(" has no row")));
    QCOMPARE(names.size() + 1, listed.size()); // the window itself besides
}

QTEST_MAIN(TestDesign)
#include "tst_design.moc"
