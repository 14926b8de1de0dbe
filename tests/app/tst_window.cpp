// The window frame: design, the page-change veto, the routing, the exception display.

#include "WindowFixture.h"

#include "platform/widgets/Application.h"

#include <QAccessible>
#include <QKeyEvent>

using fixture::Prefix;
using fixture::Window;

class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();
    void design();
    void vetoHoldsOnFolderPrompt_data();
    void vetoHoldsOnFolderPrompt();
    void tabsWorkOnceFolderAccepted();
    void routingStartsTestOnce();
    void routingPreparesPasswordPageEveryTime();
    void keyboardOperatesLinksAndButtons();
    void controlsNotShownOrRefusedActNot();
    void accessibleNamesComeFromLabels();
    void exceptionEscapingHandlerIsDisplayed();
};

void TestWindow::cleanup()
{
    QVERIFY2(QApplication::topLevelWidgets().isEmpty() || std::all_of(QApplication::topLevelWidgets().cbegin(),
                                                                        QApplication::topLevelWidgets().cend(),
                                                                        [](QWidget *w) { return !w->isVisible(); }),
             "a window was left open");
}

void TestWindow::design()
{
    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"));
    Window window(prefix);
    TForm1 &form = window.show();

    QCOMPARE(form.windowTitle(), QStringLiteral("Quenmar Helpcentre"));
    QCOMPARE(form.size(), QSize(535, 392));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.windowFlags() & Qt::WindowCloseButtonHint);

    QCOMPARE(form.ElPageControl1->pageCount(), 5);
    const QStringList captions = {QStringLiteral("Installation information   "), QStringLiteral("Connection test   "),
                                  QStringLiteral("Clean cachefiles   "), QStringLiteral("Password recovery help")};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(form.ElPageControl1->tabCaption(i), captions.at(i));
        QVERIFY(form.ElPageControl1->isTabVisible(i));
    }
    QVERIFY(!form.ElPageControl1->isTabVisible(4));
    QCOMPARE(form.ElPageControl1->page(4), form.ElTabSheet5);
    QCOMPARE(form.ElPageControl1->geometry(), QRect(0, 62, 535, 321));
    QCOMPARE(form.ElTabSheet1->size(), QSize(535, 291));
    QCOMPARE(form.Image1->geometry(), QRect(280, 0, 255, 53));
    QCOMPARE(form.Image1->pixmap().size(), QSize(257, 53));

    // The own fields start as declared.
    QCOMPARE(form.TestRunning, false);
    QCOMPARE(form.TestStarted, false);
    QCOMPARE(form.TestTick, 0);
    QCOMPARE(form.Ping.Size, 56);
    QCOMPARE(form.Ping.Timeout, 2000);
    QCOMPARE(form.Ping.TTL, 64);
    QCOMPARE(form.Ping.Flags, 0);
    QCOMPARE(form.Timer1->interval(), 100);
    QVERIFY(!form.ClientSocket1->Active());
}

enum class Attempt { ClickTab, ArrowKey, CtrlTab, ProgramSwitch, AccessiblePress };
Q_DECLARE_METATYPE(Attempt)

static void attemptChange(TForm1 &form, Attempt attempt, int target)
{
    qm::ElPageControl *control = form.ElPageControl1;
    switch (attempt) {
    case Attempt::ClickTab:
        QTest::mouseClick(control->focusProxy(), Qt::LeftButton, {}, control->tabRect(target).center());
        break;
    case Attempt::ArrowKey:
        QTest::keyClick(control->focusProxy(), Qt::Key_Left);
        break;
    case Attempt::CtrlTab:
        QTest::keyClick(control, Qt::Key_Tab, Qt::ControlModifier);
        break;
    case Attempt::ProgramSwitch:
        control->setActivePageIndex(target);
        break;
    case Attempt::AccessiblePress: {
        QAccessibleInterface *strip = QAccessible::queryAccessibleInterface(control->focusProxy());
        QVERIFY(strip);
        QCOMPARE(strip->role(), QAccessible::PageTabList);
        QAccessibleInterface *tab = strip->child(target);
        QVERIFY(tab);
        QCOMPARE(tab->role(), QAccessible::PageTab);
        QCOMPARE(tab->text(QAccessible::Name), control->tabCaption(target).trimmed());
        tab->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        break;
    }
    }
}

void TestWindow::vetoHoldsOnFolderPrompt_data()
{
    QTest::addColumn<Attempt>("attempt");
    QTest::addColumn<int>("target");
    for (int page = 0; page < 4; ++page) {
        QTest::addRow("click on tab %d", page) << Attempt::ClickTab << page;
        QTest::addRow("program switch to %d", page) << Attempt::ProgramSwitch << page;
        QTest::addRow("assistive press on tab %d", page) << Attempt::AccessiblePress << page;
    }
    QTest::newRow("arrow key") << Attempt::ArrowKey << 3;
    QTest::newRow("ctrl+tab") << Attempt::CtrlTab << 0;
}

void TestWindow::vetoHoldsOnFolderPrompt()
{
    QFETCH(Attempt, attempt);
    QFETCH(int, target);
    Prefix prefix; // no installation anywhere
    Window window(prefix);
    TForm1 &form = window.show();
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);

    attemptChange(form, attempt, target);

    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);
    QVERIFY(!form.TestStarted);
    QVERIFY(window.messages.isEmpty());
    QVERIFY(window.exceptions.isEmpty());
}

void TestWindow::tabsWorkOnceFolderAccepted()
{
    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/Games/Quenmar"));
    Window window(prefix);
    TForm1 &form = window.show();
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);

    form.ElFolderNameEdit1->setText(QStringLiteral("c:\\Games\\Quenmar"));
    QVERIFY(form.FolderAccepted);
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);

    qm::ElPageControl *control = form.ElPageControl1;
    for (int page : {2, 3, 0}) {
        QTest::mouseClick(control->focusProxy(), Qt::LeftButton, {}, control->tabRect(page).center());
        QCOMPARE(control->ActivePageIndex(), page);
    }
    // The prompt's tab is hidden, and the keyboard passes it by.
    QVERIFY(control->tabRect(4).isEmpty());
    QCOMPARE(QAccessible::queryAccessibleInterface(control->focusProxy())->childCount(), 4);
    QAccessible::queryAccessibleInterface(control->focusProxy())->child(1)->actionInterface()->doAction(
        QAccessibleActionInterface::pressAction());
    QCOMPARE(control->ActivePageIndex(), 1);
    control->setActivePageIndex(3);
    QTest::keyClick(control->focusProxy(), Qt::Key_Right);
    QTest::keyClick(control->focusProxy(), Qt::Key_End);
    QCOMPARE(control->ActivePageIndex(), 3);
}

namespace {

void press(QWidget *control)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(control);
    QVERIFY(accessible && accessible->actionInterface());
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

} // namespace

// A control the player cannot see (its page not shown) or cannot use (disabled) acts on no
// path: neither the press action of assistive technology, which Qt answers for hidden
// buttons too, nor a program's click. (The links, the request button and the browse button
// used to act from hidden pages, and a disabled strip's tabs to switch pages.)
void TestWindow::controlsNotShownOrRefusedActNot()
{
    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"));
    Window window(prefix);
    TForm1 &form = window.show();
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    QStringList chooserTitles;
    qm::Dialogs::setFolderHook([&](const QString &title, const QString &) -> std::optional<QString> {
        chooserTitles.append(title);
        return std::nullopt;
    });

    // The password page and the folder prompt are not shown.
    press(form.Label24);
    press(form.Label25);
    press(form.ElPopupButton1);
    form.ElPopupButton1->click();
    press(form.ElFolderNameEdit1->browseButton());
    form.ElFolderNameEdit1->browse();
    // The page control refused: its tabs do not switch.
    form.ElPageControl1->setEnabled(false);
    QAccessibleInterface *strip = QAccessible::queryAccessibleInterface(form.ElPageControl1->focusProxy());
    QVERIFY(strip && strip->child(3));
    strip->child(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QTest::qWait(300); // a button's press action clicks after a short animation

    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    QVERIFY(window.shell.opened.isEmpty());
    QVERIFY(window.messages.isEmpty());
    QVERIFY(chooserTitles.isEmpty());
    QVERIFY(window.exceptions.isEmpty());

    // Shown and enabled, the same controls act.
    form.ElPageControl1->setEnabled(true);
    strip->child(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 3);
    press(form.Label24);
    QCOMPARE(window.shell.opened.size(), 1);
    press(form.ElPopupButton1);
    QTRY_COMPARE(window.messages, QStringList{QStringLiteral("Please enter your correct accountname")});
    qm::Dialogs::clearHooks();
}

void TestWindow::routingStartsTestOnce()
{
    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"), "HOST=127.0.0.1\nPORT=1\n");
    Window window(prefix);
    TForm1 &form = window.show();

    form.ElPageControl1->setActivePageIndex(1);
    QVERIFY(form.TestStarted);
    QVERIFY(form.TestRunning);
    QCOMPARE(form.Label10->text(), QStringLiteral("test in progress.."));
    window.tick(3);
    QCOMPARE(form.TestTick, 3);

    // Leaving and coming back, during the test, starts nothing again.
    form.ElPageControl1->setActivePageIndex(0);
    form.ElPageControl1->setActivePageIndex(1);
    QCOMPARE(form.TestTick, 3);
    QCOMPARE(window.echo.asked.size(), 3); // loopback and both public hosts, once
}

void TestWindow::routingPreparesPasswordPageEveryTime()
{
    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"));
    Window window(prefix);
    TForm1 &form = window.show();

    for (int visit = 0; visit < 2; ++visit) {
        form.ElPageControl1->setActivePageIndex(3);
        form.Edit2->setText(QStringLiteral("Somewhere"));
        form.ElPageControl1->setActivePageIndex(2);
        QCOMPARE(form.Edit2->text(), QStringLiteral("Somewhere"));
    }
    form.ElPageControl1->setActivePageIndex(3);
    QCOMPARE(form.Edit2->text(), QString());
}

void TestWindow::keyboardOperatesLinksAndButtons()
{
    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"));
    Window window(prefix);
    TForm1 &form = window.show();

    form.ElPageControl1->setActivePageIndex(3);
    QTest::keyClick(form.Label24, Qt::Key_Return);
    QTest::keyClick(form.Label25, Qt::Key_Space);
    QCOMPARE(window.shell.opened.size(), 2);
    QVERIFY(window.shell.opened.at(0).endsWith(QStringLiteral("/pwrecovery.html")));
    QVERIFY(window.shell.opened.at(1).endsWith(QStringLiteral("/testrecovery.html")));
    // Tab moves from the request button to the links, as the design orders them.
    QCOMPARE(form.ElPopupButton1->nextInFocusChain(), static_cast<QWidget *>(form.Label24));
    QVERIFY(form.Label24->focusPolicy() & Qt::TabFocus);

    form.ElPageControl1->setActivePageIndex(2);
    QTest::keyClick(form.SpeedButton1, Qt::Key_Space);
    QVERIFY(form.Memo1->isVisibleTo(&form));
    QCOMPARE(form.Memo1->lines().constLast(), QStringLiteral("all done, try play Quenmar to see if it worked :)"));
}

void TestWindow::accessibleNamesComeFromLabels()
{
    Prefix prefix;
    Window window(prefix);
    TForm1 &form = window.show();

    const auto name = [](QObject *object) {
        return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
    };
    QCOMPARE(name(form.ElFolderNameEdit1->lineEdit()), QStringLiteral("Quenmar folder"));
    QCOMPARE(name(form.Edit1), QStringLiteral("Your account name"));
    QCOMPARE(name(form.Edit2), QStringLiteral("Your realname OR location"));
    QCOMPARE(name(form.ElPopupButton1), QStringLiteral("recover my password"));
    QCOMPARE(name(form.Label24), QStringLiteral("Click here to recover password on mainserver"));
    QCOMPARE(QAccessible::queryAccessibleInterface(form.Label24)->role(), QAccessible::Link);
    QCOMPARE(name(form.Label12), QStringLiteral("failed"));
}

namespace {

class Throwing final : public QObject
{
public:
    bool event(QEvent *e) override
    {
        if (e->type() == QEvent::User)
            throw std::runtime_error("boom in a handler");
        return QObject::event(e);
    }
};

} // namespace

void TestWindow::exceptionEscapingHandlerIsDisplayed()
{
    QStringList shown;
    const auto previous = qm::setExceptionDisplay([&](const QString &message) { shown.append(message); });
    Throwing object;
    QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
    QCoreApplication::processEvents();
    QCOMPARE(shown, QStringList{QStringLiteral("boom in a handler")});

    // The message loop goes on.
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QTRY_VERIFY(ran);
    qm::setExceptionDisplay(previous);
}

int main(int argc, char *argv[])
{
    qm::TApplication app(argc, argv);
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
