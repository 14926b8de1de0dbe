// The connection test page: its timed schedule of echo steps and the TCP connection to the
// game server, driven tick by tick against a real listener on the loopback range.

#include "LoopbackServer.h"
#include "WindowFixture.h"

#include <QElapsedTimer>

using fixture::Prefix;
using fixture::Window;

namespace {

const QString Loopback = QStringLiteral("127.0.0.1");
const QString First = QStringLiteral("first.public.test");
const QString Second = QStringLiteral("second.public.test");

const QString InProgress = QStringLiteral("test in progress..");
const QString Passed = QStringLiteral("passed");
const QString Failed = QStringLiteral("failed");
const QString Error = QStringLiteral("error");

const QString Waiting = QStringLiteral("Please wait for the test to finish");
const QString Unknown = QStringLiteral("Unknown problems, check your internet connection please..");
const QString NoInternet = QStringLiteral("There is something wrong with your internet connection");
const QString ServerNotFound = QStringLiteral("Your internet works fine, but the quenmar server was not found at all");
const QString AllWell = QStringLiteral("There is nothing wrong with your connection! If you are having troubles it is "
                                       "probably because the server is too busy/full at this moment..");

QString portMessage(const QString &host, const QString &port)
{
    return QStringLiteral("Server ") + host + QStringLiteral(" was found but port ") + port
           + QStringLiteral(" was not found, is this the correct port? also check if you are running a firewall!");
}

// A verdict as the player sees it: caption and font colour.
QString shown(const QLabel *label)
{
    return label->text() + QLatin1Char(' ') + label->palette().color(QPalette::WindowText).name().toUpper();
}

QString verdict(const QString &caption)
{
    const char *colour = caption == Passed ? "#008000" : caption == InProgress ? "#000000" : "#FF0000";
    return caption + QLatin1Char(' ') + QLatin1String(colour);
}

// The page's outputs: the four verdicts in row order, then the result text.
QStringList page(const TForm1 &form)
{
    return {shown(form.Label10), shown(form.Label19), shown(form.Label11), shown(form.Label12),
            form.Label13->text()};
}

QStringList expectedPage(const QStringList &captions, const QString &result)
{
    QStringList expected;
    for (const QString &caption : captions)
        expected.append(verdict(caption));
    expected.append(result);
    return expected;
}

// The game server: a listener on a loopback address that accepts, refuses (nobody
// listens on its port any more) or accepts and hangs up at once.
class GameServer final
{
public:
    enum class Mode { Accept, Refuse, HangUp };

    bool start(const QString &address, Mode mode)
    {
        using OnAccept = fixture::LoopbackServer::OnAccept;
        m_server.onAccepted = [this] { ++accepted; };
        if (!m_server.listen(address, mode == Mode::HangUp ? OnAccept::Close : OnAccept::Keep))
            return false;
        if (mode == Mode::Refuse)
            m_server.stopListening();
        return true;
    }

    QString port() const { return QString::number(m_server.port()); }

    // Connections that the program closed again.
    int closedByClient() const { return m_server.closedByClient(); }

    int accepted = 0;

private:
    fixture::LoopbackServer m_server;
};

// Counts the socket events that reach the window, after its own handlers have run.
struct SocketEvents
{
    int connects = 0;
    int disconnects = 0;
    int errors = 0;

    void watch(TForm1 &form)
    {
        qm::TClientSocket *socket = form.ClientSocket1;
        socket->OnConnect = [this, handler = socket->OnConnect] {
            handler();
            ++connects;
        };
        socket->OnDisconnect = [this, handler = socket->OnDisconnect] {
            handler();
            ++disconnects;
        };
        socket->OnError = [this, handler = socket->OnError](int &code) {
            handler(code);
            ++errors;
        };
    }
};

// Answers echoes of the listed addresses, noting each step with the tick it ran at.
class TickedEcho final : public qm::EchoTransport
{
public:
    QStringList replying;
    QStringList steps;
    const TForm1 *form = nullptr;

    int echo(const qm::EchoRequest &request) override
    {
        steps.append(QStringLiteral("echo %1 at %2").arg(request.address).arg(form ? form->TestTick : -1));
        return replying.contains(request.address) ? 1 : 0;
    }
};

enum class Awaited { Nothing, Connect, Error, Disconnect };

// Runs the timer handler with the event loop turning in between, as the timer would.
void tickWithEvents(Window &window, int count = 1)
{
    for (int i = 0; i < count; ++i) {
        window.tick();
        QTest::qWait(5);
    }
}

} // namespace

Q_DECLARE_METATYPE(GameServer::Mode)
Q_DECLARE_METATYPE(Awaited)

class TestConnection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scenarios_data();
    void scenarios();
    void connectionMadeAfterClosingStep();
    void socketEventCarriesCounterPastClosingStep();
    void revisitingPageRestartsNothing_data();
    void revisitingPageRestartsNothing();
    void alteredWaitingTextCountsAsResult_data();
    void alteredWaitingTextCountsAsResult();
    void realTimerRunsWholeTest();
    void inputDuringEchoIsDropped_data();
    void inputDuringEchoIsDropped();
};

void TestConnection::scenarios_data()
{
    QTest::addColumn<QByteArray>("settings"); // "<port>" stands for the listener's; null: none read
    QTest::addColumn<QString>("listenOn");
    QTest::addColumn<GameServer::Mode>("mode");
    QTest::addColumn<QStringList>("replying");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<QString>("hostCaption");
    QTest::addColumn<QString>("portCaption");
    QTest::addColumn<Awaited>("awaited"); // the socket event that settles the port before the closing step
    QTest::addColumn<int>("tickAfterConnectStep");
    QTest::addColumn<QStringList>("settled"); // verdicts from then until the closing step
    QTest::addColumn<QString>("settledResult");
    QTest::addColumn<QStringList>("finished"); // verdicts after the closing step
    QTest::addColumn<QString>("finishedResult");
    QTest::addColumn<QStringList>("asked");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<bool>("lookupFailureShown");

    using Mode = GameServer::Mode;
    const QByteArray atServer = "HOST=127.0.0.1\nPORT=<port>\n";
    const QString port = QStringLiteral("<port>");
    const QStringList none;
    const QStringList allPassed{Passed, Passed, Passed, Passed};

    QTest::newRow("everything reachable, the first public host answers")
        << atServer << Loopback << Mode::Accept << QStringList{Loopback, First} << none << Loopback << port
        << Awaited::Connect << 9 << allPassed << AllWell << allPassed << AllWell
        << QStringList{Loopback, First, Loopback} << true << false;
    QTest::newRow("only the second public host answers")
        << atServer << Loopback << Mode::Accept << QStringList{Loopback, Second} << none << Loopback << port
        << Awaited::Connect << 9 << allPassed << AllWell << allPassed << AllWell
        << QStringList{Loopback, First, Second, Loopback} << true << false;
    QTest::newRow("loopback silent: its text stands through every later step")
        << atServer << Loopback << Mode::Accept << QStringList{First} << none << Loopback << port
        << Awaited::Connect << 9 << QStringList{Failed, Passed, Failed, Passed} << Unknown
        << QStringList{Failed, Passed, Failed, Passed} << Unknown << QStringList{Loopback, First, Loopback} << true
        << false;
    QTest::newRow("loopback echo raising")
        << atServer << Loopback << Mode::Accept << QStringList{First} << QStringList{Loopback} << Loopback << port
        << Awaited::Connect << 9 << QStringList{Error, Passed, Error, Passed} << Unknown
        << QStringList{Error, Passed, Error, Passed} << Unknown << QStringList{Loopback, First, Loopback} << true
        << false;
    QTest::newRow("neither public host answers")
        << atServer << Loopback << Mode::Accept << QStringList{Loopback} << none << Loopback << port
        << Awaited::Connect << 9 << QStringList{Passed, Failed, Passed, Passed} << NoInternet
        << QStringList{Passed, Failed, Passed, Passed} << NoInternet
        << QStringList{Loopback, First, Second, Loopback} << true << false;
    QTest::newRow("internet echo raising")
        << atServer << Loopback << Mode::Accept << QStringList{Loopback} << QStringList{First} << Loopback << port
        << Awaited::Connect << 9 << QStringList{Passed, Error, Passed, Passed} << Unknown
        << QStringList{Passed, Error, Passed, Passed} << Unknown << QStringList{Loopback, First, Loopback} << true
        << false;
    // Another loopback address, so that the server's echo can go unanswered while the
    // loopback echo is answered.
    QTest::newRow("server ignores echoes but accepts the connection")
        << QByteArray("HOST=127.0.0.2\nPORT=<port>\n") << QStringLiteral("127.0.0.2") << Mode::Accept
        << QStringList{Loopback, First} << none << QStringLiteral("127.0.0.2") << port << Awaited::Connect << 9
        << QStringList{Passed, Passed, Failed, Passed} << ServerNotFound << QStringList{Passed, Passed, Failed, Passed}
        << ServerNotFound << QStringList{Loopback, First, QStringLiteral("127.0.0.2")} << true << false;
    // The server elsewhere on the loopback range, so that each echo step is the first
    // and only one to write the result text.
    const QByteArray elsewhere = "HOST=127.0.0.2\nPORT=<port>\n";
    const QString second = QStringLiteral("127.0.0.2");
    QTest::newRow("server echo raising while loopback and internet answer")
        << elsewhere << second << Mode::Accept << QStringList{Loopback, First} << QStringList{second} << second
        << port << Awaited::Connect << 9 << QStringList{Passed, Passed, Error, Passed} << ServerNotFound
        << QStringList{Passed, Passed, Error, Passed} << ServerNotFound << QStringList{Loopback, First, second}
        << true << false;
    QTest::newRow("loopback echo raising, everything else answers")
        << elsewhere << second << Mode::Accept << QStringList{First, second} << QStringList{Loopback} << second
        << port << Awaited::Connect << 9 << QStringList{Error, Passed, Passed, Passed} << Unknown
        << QStringList{Error, Passed, Passed, Passed} << Unknown << QStringList{Loopback, First, second} << true
        << false;
    QTest::newRow("loopback silent, everything else answers")
        << elsewhere << second << Mode::Accept << QStringList{First, second} << none << second << port
        << Awaited::Connect << 9 << QStringList{Failed, Passed, Passed, Passed} << Unknown
        << QStringList{Failed, Passed, Passed, Passed} << Unknown << QStringList{Loopback, First, second} << true
        << false;
    QTest::newRow("port refused: failed only at the closing step")
        << atServer << Loopback << Mode::Refuse << QStringList{Loopback, First} << none << Loopback << port
        << Awaited::Error << 9 << QStringList{Passed, Passed, Passed, InProgress} << Waiting
        << QStringList{Passed, Passed, Passed, Failed} << portMessage(Loopback, port)
        << QStringList{Loopback, First, Loopback} << false << false;
    // Port 0 is a port: tried, refused, and failed at the closing step like any refused one.
    QTest::newRow("port 0 refused: failed only at the closing step")
        << QByteArray("HOST=127.0.0.1\nPORT=0\n") << Loopback << Mode::Accept << QStringList{Loopback, First} << none
        << Loopback << QStringLiteral("0") << Awaited::Error << 9 << QStringList{Passed, Passed, Passed, InProgress}
        << Waiting << QStringList{Passed, Passed, Passed, Failed} << portMessage(Loopback, QStringLiteral("0"))
        << QStringList{Loopback, First, Loopback} << false << false;
    QTest::newRow("server hangs up before the closing step")
        << atServer << Loopback << Mode::HangUp << QStringList{Loopback, First} << none << Loopback << port
        << Awaited::Disconnect << 9 << allPassed << AllWell << allPassed << AllWell
        << QStringList{Loopback, First, Loopback} << true << false;
    QTest::newRow("empty host fails inside the connect step")
        << QByteArray("HOST=\nPORT=<port>\n") << Loopback << Mode::Accept << QStringList{Loopback, First, QString()}
        << none << QString() << port << Awaited::Nothing << 10 << QStringList{Passed, Passed, Passed, Failed}
        << portMessage(QString(), port) << QStringList{Passed, Passed, Passed, Failed} << portMessage(QString(), port)
        << QStringList{Loopback, First, QString()} << false << false;
    QTest::newRow("unresolvable host fails when the client's lookup fails")
        << QByteArray("HOST=nowhere.invalid\nPORT=<port>\n") << Loopback << Mode::Accept
        << QStringList{Loopback, First} << none << QStringLiteral("nowhere.invalid") << port << Awaited::Disconnect
        << 9 << QStringList{Passed, Passed, Failed, Failed} << ServerNotFound
        << QStringList{Passed, Passed, Failed, Failed} << ServerNotFound
        << QStringList{Loopback, First, QStringLiteral("nowhere.invalid")} << false << true;
    // The detection stops at a registry value of the wrong type: host and port stay "-".
    QTest::newRow("no settings read: port \"-\"")
        << QByteArray() << Loopback << Mode::Accept << QStringList{Loopback, First, QStringLiteral("-")} << none
        << QStringLiteral("-") << QStringLiteral("-") << Awaited::Nothing << 10
        << QStringList{Passed, Passed, Passed, Failed} << portMessage(QStringLiteral("-"), QStringLiteral("-"))
        << QStringList{Passed, Passed, Passed, Failed} << portMessage(QStringLiteral("-"), QStringLiteral("-"))
        << QStringList{Loopback, First, QStringLiteral("-")} << false << false;
}

void TestConnection::scenarios()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, listenOn);
    QFETCH(GameServer::Mode, mode);
    QFETCH(QStringList, replying);
    QFETCH(QStringList, failing);
    QFETCH(QString, hostCaption);
    QFETCH(QString, portCaption);
    QFETCH(Awaited, awaited);
    QFETCH(int, tickAfterConnectStep);
    QFETCH(QStringList, settled);
    QFETCH(QString, settledResult);
    QFETCH(QStringList, finished);
    QFETCH(QString, finishedResult);
    QFETCH(QStringList, asked);
    QFETCH(bool, connects);
    QFETCH(bool, lookupFailureShown);

    GameServer server;
    QVERIFY(server.start(listenOn, mode));
    const QString listenerPort = server.port();
    portCaption.replace(QStringLiteral("<port>"), listenerPort);
    settledResult.replace(QStringLiteral("<port>"), listenerPort);
    finishedResult.replace(QStringLiteral("<port>"), listenerPort);

    Prefix prefix;
    if (settings.isNull())
        prefix.writeUserReg("\"Directory\"=dword:00000001");
    else
        prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"),
                                settings.replace("<port>", listenerPort.toLatin1()));
    Window window(prefix);
    for (const QString &address : replying)
        window.echo.replies.insert(address, 1);
    for (const QString &address : failing)
        window.echo.failing.insert(address);
    TForm1 &form = window.show();
    window.exceptions.clear(); // the detection's own, when it stopped early
    SocketEvents events;
    events.watch(form);

    QCOMPARE(form.Label15->text(), hostCaption);
    QCOMPARE(form.Label17->text(), portCaption);
    form.ElPageControl1->setActivePageIndex(1);
    QVERIFY(form.TestRunning);
    QCOMPARE(page(form), expectedPage(QStringList(4, InProgress), Waiting));
    QCOMPARE(form.Label8->text(), QStringLiteral("Testing ") + hostCaption);
    QCOMPARE(form.Label9->text(), QStringLiteral("Testing TCP port ") + portCaption);

    while (form.TestTick < 8)
        tickWithEvents(window);
    window.tick(); // the connect step
    QCOMPARE(form.TestTick, tickAfterConnectStep);
    switch (awaited) {
    case Awaited::Nothing: break;
    case Awaited::Connect: QTRY_COMPARE(events.connects, 1); break;
    case Awaited::Error: QTRY_COMPARE(events.errors, 1); break;
    case Awaited::Disconnect: QTRY_COMPARE(events.disconnects, 1); break;
    }
    QVERIFY(form.TestTick < 33);
    QCOMPARE(page(form), expectedPage(settled, settledResult));

    // Nothing more happens until the closing step.
    while (form.TestTick < 33)
        tickWithEvents(window);
    QCOMPARE(form.TestTick, 33);
    QVERIFY(form.TestRunning);
    QCOMPARE(page(form), expectedPage(settled, settledResult));
    const bool openUntilClosingStep = mode == GameServer::Mode::Accept && connects;
    if (openUntilClosingStep)
        QCOMPARE(server.closedByClient(), 0);

    window.tick(); // the closing step
    QVERIFY(!form.TestRunning);
    QCOMPARE(form.TestTick, 34);
    QVERIFY(!form.ClientSocket1->Active());
    QCOMPARE(page(form), expectedPage(finished, finishedResult));
    if (openUntilClosingStep)
        QTRY_COMPARE(server.closedByClient(), 1);

    // A finished test stays as it is.
    tickWithEvents(window, 5);
    QCOMPARE(form.TestTick, 34);
    QCOMPARE(page(form), expectedPage(finished, finishedResult));

    QCOMPARE(server.accepted, connects ? 1 : 0);
    QCOMPARE(events.connects, connects ? 1 : 0);
    QCOMPARE(window.echo.addresses(), asked);
    for (const qm::EchoRequest &request : std::as_const(window.echo.asked)) {
        QCOMPARE(request.size, 56);
        QCOMPARE(request.timeoutMs, 2000);
        QCOMPARE(request.ttl, 64);
        QCOMPARE(request.flags, 0);
    }
    if (lookupFailureShown) {
        QCOMPARE(window.exceptions.size(), 1);
        QVERIFY2(window.exceptions.first().contains(hostCaption), qPrintable(window.exceptions.first()));
    } else {
        QCOMPARE(window.exceptions, QStringList());
    }
    QCOMPARE(window.messages, QStringList());
}

// A reachable server and answered echoes, the page opened and the socket events counted.
struct ReachableSetup
{
    GameServer server;
    Prefix prefix;
    std::unique_ptr<Window> window;
    SocketEvents events;

    bool open()
    {
        if (!server.start(Loopback, GameServer::Mode::Accept))
            return false;
        prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"),
                                "HOST=127.0.0.1\nPORT=" + server.port().toLatin1() + "\n");
        window = std::make_unique<Window>(prefix);
        window->echo.replies.insert(Loopback, 1);
        window->echo.replies.insert(First, 1);
        TForm1 &form = window->show();
        events.watch(form);
        form.ElPageControl1->setActivePageIndex(1);
        return form.TestRunning;
    }
};

void TestConnection::connectionMadeAfterClosingStep()
{
    ReachableSetup setup;
    QVERIFY(setup.open());
    Window &window = *setup.window;
    TForm1 &form = *window.form;

    // No event is handled from the connect step to the closing step: the connection
    // is still on its way when the closing step finds the socket inactive.
    window.tick(34);
    QVERIFY(!form.TestRunning);
    QCOMPARE(form.TestTick, 34);
    const QString message = portMessage(Loopback, setup.server.port());
    QCOMPARE(page(form), expectedPage({Passed, Passed, Passed, Failed}, message));

    QTRY_COMPARE(setup.events.connects, 1);
    QCOMPARE(page(form), expectedPage({Passed, Passed, Passed, Passed}, message));
    QCOMPARE(setup.server.accepted, 1);
    QCOMPARE(window.exceptions, QStringList());
}

void TestConnection::socketEventCarriesCounterPastClosingStep()
{
    ReachableSetup setup;
    QVERIFY(setup.open());
    Window &window = *setup.window;
    TForm1 &form = *window.form;

    // The connection is made between the timer events of steps 32 and 33.
    window.tick(33);
    QCOMPARE(form.TestTick, 33);
    QTRY_COMPARE(setup.events.connects, 1);
    QCOMPARE(form.TestTick, 34);
    QVERIFY(form.TestRunning);
    QCOMPARE(page(form), expectedPage({Passed, Passed, Passed, Passed}, AllWell));
    QCOMPARE(setup.server.closedByClient(), 0);

    window.tick(); // the closing step, late by one
    QVERIFY(!form.TestRunning);
    QVERIFY(!form.ClientSocket1->Active());
    QCOMPARE(form.TestTick, 35);
    QCOMPARE(setup.events.disconnects, 1);
    QTRY_COMPARE(setup.server.closedByClient(), 1);

    tickWithEvents(window, 5);
    QCOMPARE(form.TestTick, 35);
    QCOMPARE(setup.events.disconnects, 1);
    QCOMPARE(page(form), expectedPage({Passed, Passed, Passed, Passed}, AllWell));
    QCOMPARE(window.exceptions, QStringList());
}

void TestConnection::revisitingPageRestartsNothing_data()
{
    QTest::addColumn<int>("ticksBefore");
    QTest::newRow("during the test") << 5;
    QTest::newRow("after the test") << 34;
}

void TestConnection::revisitingPageRestartsNothing()
{
    QFETCH(int, ticksBefore);
    ReachableSetup setup;
    QVERIFY(setup.open());
    Window &window = *setup.window;
    TForm1 &form = *window.form;

    tickWithEvents(window, ticksBefore);
    const int tick = form.TestTick;
    const bool running = form.TestRunning;
    const QStringList before = page(form);
    const QStringList asked = window.echo.addresses();

    for (int other : {0, 2, 0}) {
        form.ElPageControl1->setActivePageIndex(other);
        form.ElPageControl1->setActivePageIndex(1);
        QCOMPARE(form.ElPageControl1->ActivePageIndex(), 1);
    }
    QCOMPARE(form.TestTick, tick);
    QCOMPARE(form.TestRunning, running);
    QCOMPARE(page(form), before);
    QCOMPARE(window.echo.addresses(), asked);

    // A test left and reopened runs on to its normal end.
    while (form.TestRunning && form.TestTick < 40)
        tickWithEvents(window);
    QCOMPARE(form.TestTick, 34);
    QCOMPARE(page(form), expectedPage({Passed, Passed, Passed, Passed}, AllWell));
    QCOMPARE(window.echo.addresses(), (QStringList{Loopback, First, Loopback}));
}

void TestConnection::alteredWaitingTextCountsAsResult_data()
{
    QTest::addColumn<QString>("handText");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QStringList>("replying");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<GameServer::Mode>("mode");
    QTest::addColumn<QString>("result");

    using Mode = GameServer::Mode;
    const QString caseDiffers = QStringLiteral("please wait for the test to finish");
    const QString byteDiffers = QStringLiteral("Please wait for the test to finisk");
    const QString blankAdded = QStringLiteral("Please wait for the test to finish ");
    const QString second = QStringLiteral("127.0.0.2");
    const QStringList none;
    // Every later writer would write: the internet, the server and the port fail.
    QTest::newRow("case differs, everything after loopback fails")
        << caseDiffers << Loopback << QStringList{Loopback} << none << Mode::Refuse << caseDiffers;
    QTest::newRow("one byte differs, everything after loopback fails")
        << byteDiffers << Loopback << QStringList{Loopback} << none << Mode::Refuse << byteDiffers;
    QTest::newRow("one byte differs, connection made")
        << byteDiffers << Loopback << QStringList{Loopback, First} << none << Mode::Accept << byteDiffers;
    QTest::newRow("trailing blank, connection made")
        << blankAdded << Loopback << QStringList{Loopback, First} << none << Mode::Accept << blankAdded;
    // The steps' error branches look too.
    QTest::newRow("one byte differs, internet echo raising")
        << byteDiffers << second << QStringList{Loopback, second} << QStringList{First} << Mode::Accept
        << byteDiffers;
    QTest::newRow("one byte differs, server echo raising")
        << byteDiffers << second << QStringList{Loopback, First} << QStringList{second} << Mode::Accept
        << byteDiffers;
    QTest::newRow("one byte differs, server silent, port refused")
        << byteDiffers << second << QStringList{Loopback, First} << none << Mode::Refuse << byteDiffers;
    // The loopback step alone writes without looking.
    QTest::newRow("loopback silent writes regardless")
        << caseDiffers << Loopback << QStringList{First} << none << Mode::Accept << Unknown;
    QTest::newRow("loopback echo raising writes regardless")
        << caseDiffers << second << QStringList{First, second} << QStringList{Loopback} << Mode::Accept << Unknown;
}

void TestConnection::alteredWaitingTextCountsAsResult()
{
    QFETCH(QString, handText);
    QFETCH(QString, host);
    QFETCH(QStringList, replying);
    QFETCH(QStringList, failing);
    QFETCH(GameServer::Mode, mode);
    QFETCH(QString, result);

    GameServer server;
    QVERIFY(server.start(host, mode));
    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"),
                            "HOST=" + host.toLatin1() + "\nPORT=" + server.port().toLatin1() + "\n");
    Window window(prefix);
    for (const QString &address : replying)
        window.echo.replies.insert(address, 1);
    for (const QString &address : failing)
        window.echo.failing.insert(address);
    TForm1 &form = window.show();
    form.ElPageControl1->setActivePageIndex(1);
    form.Label13->setText(handText);

    while (form.TestRunning && form.TestTick < 40) {
        tickWithEvents(window);
        if (form.TestTick == 9 && mode == GameServer::Mode::Accept)
            QTRY_COMPARE(form.Label12->text(), Passed);
    }
    QCOMPARE(form.TestTick, 34);
    QCOMPARE(form.Label13->text(), result);
    QCOMPARE(form.Label12->text(), mode == GameServer::Mode::Accept ? Passed : Failed);
}

// The real timer, started with the window, runs a whole test on the event loop: the steps
// come in the schedule's order at their ticks, and the schedule ends by itself.
void TestConnection::realTimerRunsWholeTest()
{
    GameServer server;
    QVERIFY(server.start(Loopback, GameServer::Mode::Accept));
    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"),
                            "HOST=127.0.0.1\nPORT=" + server.port().toLatin1() + "\n");
    Window window(prefix);
    TickedEcho echo;
    echo.replying = {Loopback, First};
    window.form = std::make_unique<TForm1>(qm::Platform{window.registry, window.files, echo, window.shell,
                                                        window.system, window.publicHosts, nullptr, nullptr});
    TForm1 &form = *window.form;
    echo.form = &form;
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(form.Timer1->interval(), 100);
    form.show();
    form.ClientSocket1->OnConnect = [&, handler = form.ClientSocket1->OnConnect] {
        echo.steps.append(QStringLiteral("connected at %1").arg(form.TestTick));
        handler();
    };

    // Ticking before the test starts does nothing.
    QTest::qWait(350);
    QCOMPARE(form.TestTick, 0);
    QVERIFY(echo.steps.isEmpty());

    QElapsedTimer clock;
    clock.start();
    form.ElPageControl1->setActivePageIndex(1);
    QVERIFY(form.TestRunning);
    QTRY_VERIFY_WITH_TIMEOUT(!form.TestRunning, 60000);
    const qint64 elapsed = clock.elapsed();

    // The connection is made at the first turn of the loop after the connect step; on a
    // busy machine a few ticks later, but always well before the closing step.
    QCOMPARE(echo.steps.size(), 4);
    QCOMPARE(echo.steps.mid(0, 3), (QStringList{QStringLiteral("echo 127.0.0.1 at 0"),
                                                QStringLiteral("echo first.public.test at 2"),
                                                QStringLiteral("echo 127.0.0.1 at 4")}));
    QVERIFY2(echo.steps.at(3).startsWith(QStringLiteral("connected at ")), qPrintable(echo.steps.at(3)));
    const int connectedAt = echo.steps.at(3).mid(13).toInt();
    QVERIFY(connectedAt >= 9 && connectedAt < 33);
    QCOMPARE(form.TestTick, 34);
    QCOMPARE(page(form), expectedPage({Passed, Passed, Passed, Passed}, AllWell));
    QTRY_COMPARE(server.closedByClient(), 1);
    // Some thirty ticks of 100 ms passed, however slow the machine.
    QVERIFY2(elapsed >= 2500, qPrintable(QString::number(elapsed)));

    // The timer ticks on, and a finished test stays finished.
    QVERIFY(form.Timer1->isActive());
    QTest::qWait(350);
    QCOMPARE(form.TestTick, 34);
    QCOMPARE(echo.steps.size(), 4);
    QCOMPARE(window.exceptions, QStringList());
}

enum class HeldInput { ClickTabThenButton, ArrowKeyOnTabs, DoubleClickTab };
Q_DECLARE_METATYPE(HeldInput)

namespace {

// Input as the window system hands it over: queued, handled by the event loop once the
// window's thread is free again, and routed to whatever lies under the pointer by then.
void queueClick(TForm1 &form, QWidget *target, QPoint at, bool doubleClick = false)
{
    const QPoint inWindow = target->mapTo(&form, at);
    QWindow *window = form.windowHandle();
    QMetaObject::invokeMethod(
        window,
        [window, inWindow, doubleClick] {
            if (doubleClick)
                QTest::mouseDClick(window, Qt::LeftButton, {}, inWindow);
            else
                QTest::mouseClick(window, Qt::LeftButton, {}, inWindow);
        },
        Qt::QueuedConnection);
}

void queueKey(QWidget *target, Qt::Key key)
{
    QMetaObject::invokeMethod(target, [target, key] { QTest::keyClick(target, key); }, Qt::QueuedConnection);
}

void queueInput(TForm1 &form, HeldInput input)
{
    qm::ElPageControl *tabs = form.ElPageControl1;
    switch (input) {
    case HeldInput::ClickTabThenButton:
        // The cleaner's tab, then the spot where its button sits: the button is hidden now.
        queueClick(form, tabs->focusProxy(), tabs->tabRect(2).center());
        queueClick(form, form.SpeedButton1, form.SpeedButton1->rect().center());
        break;
    case HeldInput::ArrowKeyOnTabs:
        queueKey(tabs->focusProxy(), Qt::Key_Right);
        break;
    case HeldInput::DoubleClickTab:
        queueClick(form, tabs->focusProxy(), tabs->tabRect(2).center(), true);
        break;
    }
}

} // namespace

void TestConnection::inputDuringEchoIsDropped_data()
{
    QTest::addColumn<int>("echo"); // which echo request of the test the input comes during
    QTest::addColumn<HeldInput>("input");
    QTest::addColumn<int>("pageAfterwards"); // when the same input comes after the step

    QTest::newRow("loopback step: a tab, then the cleaner's button") << 0 << HeldInput::ClickTabThenButton << 2;
    QTest::newRow("internet step: a tab, then the cleaner's button") << 1 << HeldInput::ClickTabThenButton << 2;
    QTest::newRow("server step: a tab, then the cleaner's button") << 2 << HeldInput::ClickTabThenButton << 2;
    QTest::newRow("loopback step: an arrow key on the tabs") << 0 << HeldInput::ArrowKeyOnTabs << 2;
    QTest::newRow("server step: a double click on a tab") << 2 << HeldInput::DoubleClickTab << 2;
}

// Presses made while an echo blocks the window are dropped: handled afterwards they would
// act on a window the player never saw (here: a cleaner button that was still hidden).
// Input made once the step is over acts as always.
void TestConnection::inputDuringEchoIsDropped()
{
    QFETCH(int, echo);
    QFETCH(HeldInput, input);
    QFETCH(int, pageAfterwards);

    GameServer server;
    QVERIFY(server.start(Loopback, GameServer::Mode::Accept));
    Prefix prefix;
    const QString folder = prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"),
                                                   "HOST=127.0.0.1\nPORT=" + server.port().toLatin1() + "\n");
    const QString cached = folder + QStringLiteral("/maps/world.qmf");
    Prefix::writeFile(cached, "map");
    Window window(prefix);
    window.echo.replies.insert(Loopback, 1);
    window.echo.replies.insert(First, 1);
    TForm1 &form = window.show();
    form.ElPageControl1->setActivePageIndex(1);
    qm::ElPageControl *tabs = form.ElPageControl1;
    if (input != HeldInput::ArrowKeyOnTabs
        && !form.rect().contains(tabs->focusProxy()->mapTo(&form, tabs->tabRect(2).center())))
        QSKIP("the cleaner's tab lies outside the window with this platform's text measures");
    window.echo.whileBlocking = [&](const qm::EchoRequest &) {
        if (window.echo.asked.size() == echo + 1)
            queueInput(form, input);
    };

    while (window.echo.asked.size() < echo + 1)
        tickWithEvents(window);
    QTest::qWait(50); // whatever is still queued would be handled by now
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 1);
    QVERIFY(QFile::exists(cached));
    QVERIFY(form.Memo1->lines().isEmpty());

    // The releases of the dropped presses went with them: the next click is a whole click.
    window.echo.whileBlocking = nullptr;
    queueInput(form, input);
    QTRY_COMPARE(form.ElPageControl1->ActivePageIndex(), pageAfterwards);
    if (input == HeldInput::ClickTabThenButton)
        QTRY_VERIFY(!QFile::exists(cached)); // the button, now seen, works
    QCOMPARE(window.exceptions, QStringList());
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
