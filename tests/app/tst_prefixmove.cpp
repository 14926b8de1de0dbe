// The window on the Linux services as the program makes them, for a player's home folder
// with several Wine prefixes: the tool tip of the installation folder names the prefix
// read, and a folder given at the prompt that lies in another prefix moves every service
// there (its accounts, its drive serial).

#include "WindowFixture.h"

#include "../platform/LauncherHome.h"

#include "platform/SystemBackends.h"

#include <QComboBox>

using Game = LauncherHome::Game;

namespace {

// The program's own services for a home folder, with the echo and shell faked; the
// variables the services read are set while they are made.
class HomeWindow final
{
public:
    HomeWindow(const LauncherHome &home, const QString &winePrefix = QString())
    {
        const QByteArray homeWas = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.home()));
        if (winePrefix.isEmpty())
            qunsetenv("WINEPREFIX");
        else
            qputenv("WINEPREFIX", QFile::encodeName(winePrefix));
        qunsetenv("XDG_CONFIG_HOME");
        qunsetenv("XDG_DATA_HOME");
        backends = qm::makeSystemBackends();
        qputenv("HOME", homeWas);
        qunsetenv("WINEPREFIX");

        m_previousDisplay = qm::setExceptionDisplay([this](const QString &message) { exceptions.append(message); });
        form = std::make_unique<TForm1>(qm::Platform{*backends.registry, *backends.files, echo, shell,
                                                     *backends.system, QStringList(), backends.hostFolder,
                                                     backends.windowsFolder, backends.whereFound,
                                                     backends.folderAccepted});
        form->Timer1->stop();
        form->show();
    }

    ~HomeWindow()
    {
        form.reset();
        qm::setExceptionDisplay(m_previousDisplay);
    }

    QStringList accounts() const
    {
        form->ElPageControl1->setActivePageIndex(3);
        QStringList result;
        for (int i = 0; i < form->Edit1->count(); ++i)
            result.append(form->Edit1->itemText(i));
        return result;
    }

    qm::SystemBackends backends;
    fixture::ScriptedEcho echo;
    fixture::RecordingShell shell;
    QStringList exceptions;
    std::unique_ptr<TForm1> form;

private:
    qm::ExceptionDisplay m_previousDisplay;
};

const QString wine = QStringLiteral("home/.wine");
const QString bottle = QStringLiteral("home/.local/share/bottles/bottles/Quenmar");

// ~/.wine and a bottle, both with accounts but neither with the game where the window
// looks: the bottle holds it in C:\Games\Quenmar, with a serial of its own on drive C:.
void twoPrefixes(const LauncherHome &home)
{
    QVERIFY(home.makePrefix(wine, Game::Accounts, 900, "alice"));
    QVERIFY(home.makePrefix(bottle, Game::Accounts, 100, "bob,carol"));
    QVERIFY(home.writeFile(bottle + QStringLiteral("/drive_c/Games/Quenmar/quenmar.exe"), "MZ"));
    QVERIFY(home.writeFile(bottle + QStringLiteral("/drive_c/Games/Quenmar/config/setup.ini"),
                           "# Quenmar Online 7.5 beta\nHOST=Game.Example.Test\nPORT=8123\n"));
    QVERIFY(home.writeFile(bottle + QStringLiteral("/drive_c/.windows-serial"), "1234abcd\n"));
    QVERIFY(home.writeFile(wine + QStringLiteral("/drive_c/Games/Quenmar/quenmar.exe"), "MZ"));
}

QString windowsPath(const QString &hostPath)
{
    return QStringLiteral("Z:") + QString(hostPath).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

} // namespace

class TestPrefixMove : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toolTipNamesPrefix_data();
    void toolTipNamesPrefix();
    void folderMovesPrefix_data();
    void folderMovesPrefix();
    void winePrefixStays();
};

void TestPrefixMove::toolTipNamesPrefix_data()
{
    QTest::addColumn<QString>("game");       // the bottle holds the game's key, or nothing does
    QTest::addColumn<QString>("winePrefix"); // $WINEPREFIX below the test's root, or unset
    QTest::addColumn<QString>("toolTip");    // with @ROOT@ for the test's root
    QTest::addColumn<int>("page");

    QTest::newRow("found in a bottle") << "bottle" << QString()
                                       << "Wine prefix: @ROOT@/" + bottle + " (Bottles)" << 0;
    QTest::newRow("not found: ~/.wine") << "none" << QString() << "Wine prefix: @ROOT@/home/.wine" << 4;
    QTest::newRow("$WINEPREFIX") << "bottle" << "other/set"
                                 << QStringLiteral("Wine prefix: @ROOT@/other/set ($WINEPREFIX)") << 4;
}

void TestPrefixMove::toolTipNamesPrefix()
{
    QFETCH(QString, game);
    QFETCH(QString, winePrefix);
    QFETCH(QString, toolTip);
    QFETCH(int, page);

    LauncherHome home;
    QVERIFY(home.makePrefix(wine, Game::Nothing, 900));
    QVERIFY(home.makePrefix(bottle, game == QLatin1String("bottle") ? Game::Key : Game::Nothing, 100));
    QVERIFY(home.makePrefix(QStringLiteral("other/set"), Game::Nothing, 100));
    HomeWindow window(home, winePrefix.isEmpty() ? QString() : home.at(winePrefix));

    QCOMPARE(window.form->Label3->toolTip(), QString(toolTip).replace(QLatin1String("@ROOT@"), home.root()));
    QCOMPARE(window.form->ElPageControl1->ActivePageIndex(), page);
    QCOMPARE(window.exceptions, QStringList());
}

void TestPrefixMove::folderMovesPrefix_data()
{
    QTest::addColumn<QString>("typed");      // with @ROOT@; "chosen:" for the folder chooser
    QTest::addColumn<QString>("prefix");     // the prefix used afterwards
    QTest::addColumn<QString>("launcher");
    QTest::addColumn<QStringList>("accounts");
    QTest::addColumn<quint32>("serial");
    QTest::addColumn<QString>("shown"); // Label3 afterwards, with @ROOT@; empty: the text given

    const QStringList bottleAccounts{QStringLiteral("bob"), QStringLiteral("carol")};
    QTest::newRow("host path in the bottle")
        << "@ROOT@/" + bottle + "/drive_c/Games/Quenmar" << bottle << " (Bottles)" << bottleAccounts << 0x1234abcdu
        << QString();
    QTest::newRow("the bottle's folder through drive Z:")
        << "Z:@ROOT@/" + bottle + "/drive_c/Games/Quenmar" << bottle << " (Bottles)" << bottleAccounts << 0x1234abcdu
        << QString();
    QTest::newRow("the bottle's folder from the chooser")
        << "chosen:@ROOT@/" + bottle + "/drive_c/Games/Quenmar" << bottle << " (Bottles)" << bottleAccounts << 0x1234abcdu
        << QString();
    // ~/.wine's drive E: is the disk, the bottle's drive D: a folder on it, which holds the
    // game more closely; the bottle has no drive E:, so the folder is shown by its host path.
    QTest::newRow("through a drive the bottle lacks")
        << "E:\\disk\\Quenmar" << bottle << " (Bottles)" << bottleAccounts << 0x1234abcdu
        << "@ROOT@/other/disk/Quenmar";
    QTest::newRow("a folder in ~/.wine: no move")
        << "c:\\Games\\Quenmar" << wine << "" << QStringList{QStringLiteral("alice")} << 0x43000000u << QString();
}

void TestPrefixMove::folderMovesPrefix()
{
    QFETCH(QString, typed);
    QFETCH(QString, prefix);
    QFETCH(QString, launcher);
    QFETCH(QStringList, accounts);
    QFETCH(quint32, serial);
    QFETCH(QString, shown);

    LauncherHome home;
    twoPrefixes(home);
    QVERIFY(QFile::link(home.at(QStringLiteral("other")), home.at(wine + QStringLiteral("/dosdevices/e:"))));
    QVERIFY(QFile::link(home.at(QStringLiteral("other/disk")), home.at(bottle + QStringLiteral("/dosdevices/d:"))));
    QVERIFY(home.writeFile(QStringLiteral("other/disk/Quenmar/quenmar.exe"), "MZ"));
    QVERIFY(home.writeFile(QStringLiteral("other/disk/Quenmar/config/setup.ini"),
                           "# Quenmar Online 7.5 beta\nHOST=Game.Example.Test\nPORT=8123\n"));
    HomeWindow window(home);
    TForm1 &form = *window.form;
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);
    QCOMPARE(form.Label3->toolTip(), QStringLiteral("Wine prefix: ") + home.at(wine));

    typed.replace(QLatin1String("@ROOT@"), home.root());
    QString text = typed;
    if (typed.startsWith(QLatin1String("chosen:")))
        text = window.backends.windowsFolder(typed.mid(7));
    else if (typed.startsWith(QLatin1String("Z:")))
        text = windowsPath(typed.mid(2));
    form.ElFolderNameEdit1->setText(text);

    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    QCOMPARE(form.Label3->text(), shown.isEmpty() ? text : shown.replace(QLatin1String("@ROOT@"), home.root()));
    QCOMPARE(form.Label3->toolTip(), QStringLiteral("Wine prefix: ") + home.at(prefix) + launcher);
    QCOMPARE(window.accounts(), accounts);
    QCOMPARE(window.backends.system->volumeSerial(QStringLiteral("c:\\")), std::optional<std::uint32_t>(serial));
    if (prefix == bottle) {
        QCOMPARE(form.Label4->text(), QStringLiteral("7.5 "));
        QCOMPARE(form.Label15->text(), QStringLiteral("game.example.test"));
        QCOMPARE(form.Label17->text(), QStringLiteral("8123"));
    }
    QCOMPARE(window.exceptions, QStringList());
}

void TestPrefixMove::winePrefixStays()
{
    // $WINEPREFIX names the one prefix to read, whatever folder is typed.
    LauncherHome home;
    twoPrefixes(home);
    HomeWindow window(home, home.at(wine));
    TForm1 &form = *window.form;
    const QString typed = home.at(bottle) + QStringLiteral("/drive_c/Games/Quenmar");
    form.ElFolderNameEdit1->setText(typed);

    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    QCOMPARE(form.Label3->text(), typed);
    QCOMPARE(form.Label3->toolTip(), QStringLiteral("Wine prefix: ") + home.at(wine) + QStringLiteral(" ($WINEPREFIX)"));
    QCOMPARE(window.accounts(), QStringList{QStringLiteral("alice")});
    QCOMPARE(window.backends.system->volumeSerial(QStringLiteral("c:\\")), std::optional<std::uint32_t>(0x43000000u));
}

QTEST_MAIN(TestPrefixMove)
#include "tst_prefixmove.moc"
