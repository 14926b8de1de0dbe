// The program's start-up, run as main runs it: the application object, its title and
// desktop file name, the window centred on the desktop, a command line that is not
// looked at, and the application's own exception display showing a real message box.
//
// Each case makes the application object afresh through the program's start-up, so this
// suite makes none of its own; the screens are those of the offscreen platform, described
// to it in a file.

#include "WindowFixture.h"

#include "app/Startup.h"
#include "platform/widgets/Application.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QStyle>

#include <vector>

using fixture::Prefix;

namespace {

// A screen of the offscreen platform: its place and size on the desktop.
struct Screen
{
    int x, y, width, height;
};

// What the program showed, read while it ran.
struct Seen
{
    int exitCode = -1;
    bool timedOut = false;
    // The application object.
    QStringList arguments;
    QString title;
    QString desktopFileName;
    QString platform;
    QString style;
    QString styleSheet;
    Qt::LayoutDirection direction = Qt::LeftToRight;
    // The window.
    bool windowShown = false;
    QString caption;
    QRect geometry;
    QRect frame;
    int page = -1;
    QString label3;
    // The error box, when one was shown.
    int boxes = 0;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString boxTitle;
    QString boxText;
    bool boxModal = false;
};

// The platform's description of the screens, in a file that lives as long as the object.
class ScreenFile
{
public:
    ScreenFile(const QList<Screen> &screens, bool frameMargins)
    {
        QJsonArray list;
        for (qsizetype i = 0; i < screens.size(); ++i) {
            const Screen &s = screens.at(i);
            list.append(QJsonObject{{"name", QStringLiteral("screen%1").arg(i)},
                                    {"x", s.x},
                                    {"y", s.y},
                                    {"width", s.width},
                                    {"height", s.height},
                                    {"logicalDpi", 96},
                                    {"logicalBaseDpi", 96},
                                    {"dpr", 1}});
        }
        const QJsonObject config{{"synchronousWindowSystemEvents", false},
                                 {"windowFrameMargins", frameMargins},
                                 {"screens", list}};
        m_path = m_dir.path() + QStringLiteral("/screens.json");
        QFile file(m_path);
        if (file.open(QIODevice::WriteOnly))
            file.write(QJsonDocument(config).toJson());
    }

    QByteArray platform() const { return "offscreen:configfile=" + QFile::encodeName(m_path); }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

// The prefix's files and registry, and fakes for what cannot run here.
qm::SystemBackends backendsFor(const Prefix &prefix)
{
    const QString dir = prefix.path();
    qm::SystemBackends backends;
    backends.registry = fixture::prefixRegistry(dir);
    backends.files = fixture::prefixFiles(dir);
    backends.echo = std::make_unique<fixture::ScriptedEcho>();
    backends.shell = std::make_unique<fixture::RecordingShell>();
    backends.system = std::make_unique<fixture::FixedSystemInfo>();
    backends.hostFolder = [dir](const QString &folder) { return fixture::chooserFolder(dir, folder); };
    backends.windowsFolder = [dir](const QString &chosen) { return fixture::chosenWindowsPath(dir, chosen); };
    return backends;
}

template<typename T>
T *visibleTopLevel()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<T *>(widget); found && found->isVisible())
            return found;
    }
    return nullptr;
}

// Runs the program's start-up with `arguments` after the program's name, on `screens`,
// until its window has been shown and read: an error box shown on the way is read and
// closed with its OK button, then the window is read and closed.
Seen runProgram(const Prefix &prefix, const ScreenFile &screens, const QList<QByteArray> &arguments = {})
{
    const QByteArray platformWas = qgetenv("QT_QPA_PLATFORM");
    qputenv("QT_QPA_PLATFORM", screens.platform());

    QList<QByteArray> storage{QByteArray("quenmar-helpcentre")};
    storage.append(arguments);
    std::vector<char *> argv;
    for (QByteArray &argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    Seen seen;
    QElapsedTimer running;
    running.start();
    seen.exitCode = qm::runHelpCentre(int(storage.size()), argv.data(), [&] {
        // The application object exists now: watch what the program shows.
        auto *watch = new QTimer(qApp);
        QObject::connect(watch, &QTimer::timeout, watch, [&seen, &running, watch] {
            if (auto *box = visibleTopLevel<QMessageBox>()) {
                ++seen.boxes;
                seen.icon = box->icon();
                seen.boxTitle = box->windowTitle();
                seen.boxText = box->text();
                seen.boxModal = box->isModal();
                if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                    ok->click();
                else
                    box->reject();
                return;
            }
            if (auto *form = visibleTopLevel<TForm1>(); form && form->windowHandle()->isExposed()) {
                seen.windowShown = true;
                // As the platform shows it: its window's title and place.
                seen.caption = form->windowHandle()->title();
                seen.geometry = form->windowHandle()->geometry();
                seen.frame = form->windowHandle()->frameGeometry();
                seen.page = form->ElPageControl1->ActivePageIndex();
                seen.label3 = form->Label3->text();
                seen.arguments = QCoreApplication::arguments();
                seen.title = qm::TApplication::title();
                seen.desktopFileName = QGuiApplication::desktopFileName();
                seen.platform = QGuiApplication::platformName();
                seen.style = QApplication::style()->name();
                seen.styleSheet = qApp->styleSheet();
                seen.direction = QGuiApplication::layoutDirection();
                watch->stop();
                form->close(); // the last window: the message loop ends
                return;
            }
            if (running.elapsed() > 60000) {
                seen.timedOut = true;
                watch->stop();
                QApplication::closeAllWindows();
                QCoreApplication::quit();
            }
        });
        watch->start(20);
        return backendsFor(prefix);
    });

    if (platformWas.isNull())
        qunsetenv("QT_QPA_PLATFORM");
    else
        qputenv("QT_QPA_PLATFORM", platformWas);
    return seen;
}

} // namespace

Q_DECLARE_METATYPE(Screen)

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startUp_data();
    void startUp();
    void commandLineIsNotLookedAt_data();
    void commandLineIsNotLookedAt();
    void exceptionDisplayShowsErrorBox();
};

void TestStartup::startUp_data()
{
    QTest::addColumn<QList<Screen>>("screens"); // the first is the primary screen
    QTest::addColumn<bool>("frameMargins");    // the platform draws a frame of 2 px
    QTest::addColumn<QRect>("frame");          // where the whole window lies

    // The window is 535 x 392 inside its frame; worked out by hand.
    const QList<Screen> xga{{0, 0, 1024, 768}};
    QTest::newRow("1024 x 768, no frame") << xga << false << QRect(244, 188, 535, 392);
    QTest::newRow("1024 x 768, framed") << xga << true << QRect(242, 186, 539, 396);
    QTest::newRow("800 x 600") << QList<Screen>{{0, 0, 800, 600}} << false << QRect(132, 104, 535, 392);
    // The desktop is every screen together: 2304 x 1024 here.
    QTest::newRow("two screens side by side")
        << QList<Screen>{{0, 0, 1024, 768}, {1024, 0, 1280, 1024}} << false << QRect(884, 316, 535, 392);
    // From -800 to 1023 across, 768 down.
    QTest::newRow("second screen left of the first")
        << QList<Screen>{{0, 0, 1024, 768}, {-800, 0, 800, 600}} << true << QRect(-156, 186, 539, 396);
}

void TestStartup::startUp()
{
    QFETCH(QList<Screen>, screens);
    QFETCH(bool, frameMargins);
    QFETCH(QRect, frame);

    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"));
    const Seen seen = runProgram(prefix, ScreenFile(screens, frameMargins));

    QVERIFY(!seen.timedOut);
    QCOMPARE(seen.exitCode, 0);
    QVERIFY(seen.windowShown);
    QCOMPARE(seen.boxes, 0);
    QCOMPARE(seen.title, QStringLiteral("Quenmar HelpCentre"));
    QCOMPARE(seen.caption, QStringLiteral("Quenmar Helpcentre"));
    QCOMPARE(seen.desktopFileName, QStringLiteral("quenmar-helpcentre"));
    QCOMPARE(seen.frame, frame);
    QCOMPARE(seen.geometry.size(), QSize(535, 392));
    const int margin = frameMargins ? 2 : 0;
    QCOMPARE(seen.geometry.topLeft(), frame.topLeft() + QPoint(margin, margin));
    // The detection ran: the usual folder was found.
    QCOMPARE(seen.page, 0);
    QCOMPARE(seen.label3, QStringLiteral("c:\\QuenmarOnline"));
}

void TestStartup::commandLineIsNotLookedAt_data()
{
    // Qt's own options, each of which would change what the player sees; "{qss}" stands
    // for a style sheet file, "{screens}" for a platform with other screens.
    QTest::addColumn<QList<QByteArray>>("arguments");

    QTest::newRow("-qwindowtitle") << QList<QByteArray>{"-qwindowtitle", "Other"};
    QTest::newRow("-qwindowgeometry") << QList<QByteArray>{"-qwindowgeometry", "300x200+10+20"};
    QTest::newRow("-style") << QList<QByteArray>{"-style", "windows"};
    QTest::newRow("-stylesheet") << QList<QByteArray>{"-stylesheet", "{qss}"};
    QTest::newRow("-reverse") << QList<QByteArray>{"-reverse"};
    QTest::newRow("-platform") << QList<QByteArray>{"-platform", "{screens}"};
    QTest::newRow("all at once, and more") << QList<QByteArray>{
        "-qwindowtitle", "Other", "-qwindowgeometry", "300x200+10+20", "-style", "windows", "-stylesheet",
        "{qss}", "-reverse", "-platform", "{screens}", "-session", "someone_1", "-nograb", "-qwindowicon", "{qss}"};
}

void TestStartup::commandLineIsNotLookedAt()
{
    QFETCH(QList<QByteArray>, arguments);

    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"));
    const ScreenFile screens({{0, 0, 1024, 768}}, false);
    const ScreenFile otherScreens({{0, 0, 640, 480}}, true);
    QTemporaryDir dir;
    const QString styleSheet = dir.path() + QStringLiteral("/red.qss");
    Prefix::writeFile(styleSheet, "* { background: red; }");
    for (QByteArray &argument : arguments) {
        argument.replace("{qss}", QFile::encodeName(styleSheet));
        argument.replace("{screens}", otherScreens.platform());
    }

    // Without arguments, for the style the platform gives.
    const Seen plain = runProgram(prefix, screens);
    QVERIFY(plain.windowShown);
    QVERIFY(plain.style.compare(QStringLiteral("windows"), Qt::CaseInsensitive) != 0);

    const Seen seen = runProgram(prefix, screens, arguments);
    QVERIFY(!seen.timedOut);
    QVERIFY(seen.windowShown);
    QCOMPARE(seen.arguments, QStringList{QStringLiteral("quenmar-helpcentre")});
    QCOMPARE(seen.caption, QStringLiteral("Quenmar Helpcentre"));
    QCOMPARE(seen.frame, QRect(244, 188, 535, 392));
    QCOMPARE(seen.geometry, QRect(244, 188, 535, 392));
    QCOMPARE(seen.style, plain.style);
    QCOMPARE(seen.styleSheet, QString());
    QCOMPARE(seen.direction, Qt::LeftToRight);
    QCOMPARE(seen.platform, QStringLiteral("offscreen"));
    QCOMPARE(seen.title, QStringLiteral("Quenmar HelpCentre"));
}

void TestStartup::exceptionDisplayShowsErrorBox()
{
    // The one case that lets the exception display show its box: every other test of
    // the window records the messages instead.
    Prefix prefix;
    prefix.writeUserReg("\"Directory\"=dword:00000001\n\"Version\"=\"1.0\"");
    const Seen seen = runProgram(prefix, ScreenFile({{0, 0, 1024, 768}}, false));

    QVERIFY(!seen.timedOut);
    QCOMPARE(seen.boxes, 1);
    QCOMPARE(seen.icon, QMessageBox::Critical);
    QCOMPARE(seen.boxTitle, QStringLiteral("Quenmar HelpCentre"));
    QCOMPARE(seen.boxText, QStringLiteral("Invalid data type for 'Directory'"));
    QVERIFY(seen.boxModal);
    // The message loop goes on: the window opens on the first page, its labels untouched.
    QVERIFY(seen.windowShown);
    QCOMPARE(seen.page, 0);
    QCOMPARE(seen.label3, QStringLiteral("-"));
    QCOMPARE(seen.exitCode, 0);
}

// No application object here: each case makes its own through the program's start-up.
QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
