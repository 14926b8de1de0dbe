// Finding the installation when the window is shown, and the folder prompt.

#include "WindowFixture.h"

#include <QLineEdit>

using fixture::Prefix;
using fixture::Window;

class TestDetection : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void foundThroughRegistry();
    void usualFolders_data();
    void usualFolders();
    void headerVersion_data();
    void headerVersion();
    void registryValueNotText();
    void notFound();
    void folderPromptTypedLetterByLetter();
    void folderPromptJoinsTextUnchanged_data();
    void folderPromptJoinsTextUnchanged();
    void folderPromptBrowse_data();
    void folderPromptBrowse();
    void folderPromptShowsFolderWhenRejecting();
    void folderPromptSwallowsFailures_data();
    void folderPromptSwallowsFailures();
    void hostLowerCase_data();
    void hostLowerCase();
};

namespace {

// The fixture's files, raising where a path ends in `raiseAt` for the operation named.
class RaisingFiles final : public qm::FileSystem
{
public:
    explicit RaisingFiles(const qm::FileSystem &files) : m_files(files) {}

    QString raiseOnExists;
    QString raiseOnRead;

    bool exists(const QString &path) const override
    {
        if (!raiseOnExists.isEmpty() && path.endsWith(raiseOnExists))
            throw std::runtime_error("the disk went away");
        return m_files.exists(path);
    }
    bool readWholeFile(const QString &path, std::string &contents) const override
    {
        if (!raiseOnRead.isEmpty() && path.endsWith(raiseOnRead))
            throw std::runtime_error("the disk went away");
        return m_files.readWholeFile(path, contents);
    }
    bool listFolder(const QString &folder, const std::function<void(const QByteArray &)> &entry) const override
    {
        return m_files.listFolder(folder, entry);
    }
    bool deleteFile(const QString &folder, const QByteArray &name) const override
    {
        return m_files.deleteFile(folder, name);
    }

private:
    const qm::FileSystem &m_files;
};

} // namespace

void TestDetection::foundThroughRegistry()
{
    Prefix prefix;
    prefix.copyUserReg(QStringLiteral(QM_TEST_DATA "/user.reg"));
    // A header version that must not win over the registry's.
    prefix.makeInstallation(QStringLiteral("drive_c/Program Files/QuenmarOnline"),
                            "# Quenmar Online 9.9 header\r\nHOST = Game.Quenmar.Test\r\nPORT=7171\r\n");
    Window window(prefix);
    TForm1 &form = window.show();

    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    QCOMPARE(form.Label3->text(), QStringLiteral("C:\\Program Files\\QuenmarOnline"));
    QCOMPARE(form.Label4->text(), QStringLiteral("7.4 beta"));
    QCOMPARE(form.Label15->text(), QStringLiteral("game.quenmar.test"));
    QCOMPARE(form.Label17->text(), QStringLiteral("7171"));
    QCOMPARE(form.InstallFolder, QStringLiteral("C:\\Program Files\\QuenmarOnline"));
    QVERIFY(window.exceptions.isEmpty());
}

void TestDetection::usualFolders_data()
{
    QTest::addColumn<QStringList>("existing"); // host folders below the prefix
    QTest::addColumn<QByteArray>("directoryValue");
    QTest::addColumn<QString>("expected");     // "" for not found

    const QString c1 = QStringLiteral("drive_c/Program Files/QuenmarOnline");
    const QString d = QStringLiteral("drive_d/program files/QUENMARONLINE");
    const QString e = QStringLiteral("drive_e/Program Files/QuenmarOnline");
    const QString c4 = QStringLiteral("drive_c/QuenmarOnline");
    const QByteArray none;
    QTest::newRow("first only") << QStringList{c1} << none << QStringLiteral("c:\\Program files\\QuenmarOnline");
    QTest::newRow("second only, stored in its mixed case")
        << QStringList{d} << none << QStringLiteral("d:\\Program files\\QuenmarOnline");
    QTest::newRow("third only") << QStringList{e} << none << QStringLiteral("e:\\Program files\\QuenmarOnline");
    QTest::newRow("first and fourth: the last wins") << QStringList{c1, c4} << none << QStringLiteral("c:\\QuenmarOnline");
    QTest::newRow("first three: the third wins")
        << QStringList{c1, d, e} << none << QStringLiteral("e:\\Program files\\QuenmarOnline");
    QTest::newRow("none") << QStringList{} << none << QString();
    QTest::newRow("registry folder of one character counts as none")
        << QStringList{c4} << QByteArray("\"Directory\"=\"x\"") << QStringLiteral("c:\\QuenmarOnline");
    QTest::newRow("registry folder of one character and no usual folder")
        << QStringList{} << QByteArray("\"Directory\"=\"x\"") << QString();
    QTest::newRow("registry folder of two characters is not tested")
        << QStringList{c1} << QByteArray("\"Directory\"=\"q:\"") << QStringLiteral("q:");
}

void TestDetection::usualFolders()
{
    QFETCH(QStringList, existing);
    QFETCH(QByteArray, directoryValue);
    QFETCH(QString, expected);
    Prefix prefix;
    prefix.addDrive('d');
    prefix.addDrive('e');
    prefix.writeUserReg(directoryValue.isNull() ? QByteArray("@=\"\"") : directoryValue);
    for (const QString &folder : existing)
        prefix.makeFolder(folder);
    Window window(prefix);
    TForm1 &form = window.show();

    if (expected.isEmpty()) {
        QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);
        QCOMPARE(form.Label3->text(), QStringLiteral("not found"));
    } else {
        QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
        QCOMPARE(form.InstallFolder, expected);
        QCOMPARE(form.Label3->text(), expected);
        // A folder without settings: the reader's answers for a missing file.
        QCOMPARE(form.Label15->text(), QString());
        QCOMPARE(form.Label17->text(), QStringLiteral("8078"));
    }
}

void TestDetection::headerVersion_data()
{
    QTest::addColumn<QByteArray>("registryVersion"); // null: no "Version" value
    QTest::addColumn<QByteArray>("settings");        // null: no settings file
    QTest::addColumn<QString>("expected");

    const QByteArray none;
    QTest::newRow("version and blank") << none << QByteArray("# Quenmar Online 7.4 beta\nHOST=a\n")
                                       << QStringLiteral("7.4 ");
    QTest::newRow("no blank after the header at all") << none << QByteArray("# Quenmar Online 7.4") << QString();
    QTest::newRow("nothing after the header") << none << QByteArray("# Quenmar Online ") << QString();
    QTest::newRow("blank searched beyond the first line")
        << none << QByteArray("# Quenmar Online 7.4\nHOST=a b") << QStringLiteral("7.4\nHOST=a ");
    QTest::newRow("header in other case is not recognised")
        << QByteArray("\"Version\"=\"6.0\"") << QByteArray("# quenmar online 7.4 x") << QStringLiteral("6.0");
    QTest::newRow("shorter than the header") << QByteArray("\"Version\"=\"6.0\"") << QByteArray("# Quenmar")
                                             << QStringLiteral("6.0");
    QTest::newRow("header replaces the registry's version")
        << QByteArray("\"Version\"=\"6.0\"") << QByteArray("# Quenmar Online 7.5 x") << QStringLiteral("7.5 ");
    QTest::newRow("no settings file keeps the registry's version")
        << QByteArray("\"Version\"=\"6.0\"") << none << QStringLiteral("6.0");
}

void TestDetection::headerVersion()
{
    QFETCH(QByteArray, registryVersion);
    QFETCH(QByteArray, settings);
    QFETCH(QString, expected);
    Prefix prefix;
    prefix.writeUserReg(registryVersion.isNull() ? QByteArray("@=\"\"") : registryVersion);
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"), settings);
    Window window(prefix);
    TForm1 &form = window.show();

    QCOMPARE(form.InstallFolder, QStringLiteral("c:\\QuenmarOnline"));
    QCOMPARE(form.ClientVersion, expected);
    QCOMPARE(form.Label4->text(), expected);
}

void TestDetection::registryValueNotText()
{
    Prefix prefix;
    prefix.writeUserReg("\"Directory\"=dword:00000001\n\"Version\"=\"1.0\"");
    prefix.makeInstallation(QStringLiteral("drive_c/QuenmarOnline"), "HOST=x\n");
    Window window(prefix);
    TForm1 &form = window.show();

    QCOMPARE(window.exceptions, QStringList{QStringLiteral("Invalid data type for 'Directory'")});
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    for (QLabel *label : {form.Label3, form.Label4, form.Label15, form.Label17})
        QCOMPARE(label->text(), QStringLiteral("-"));
}

void TestDetection::notFound()
{
    Prefix prefix;
    prefix.writeUserReg("\"Version\"=\"5.1\"");
    Window window(prefix);
    TForm1 &form = window.show();

    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);
    QCOMPARE(form.Label3->text(), QStringLiteral("not found"));
    QCOMPARE(form.Label4->text(), QStringLiteral("5.1"));
    QCOMPARE(form.Label15->text(), QStringLiteral("-"));
    QCOMPARE(form.Label17->text(), QStringLiteral("-"));
    // The design's initial text ran no prompt: it would have emptied Label3.
    QCOMPARE(form.ElFolderNameEdit1->text(), QStringLiteral("c:\\"));
    QVERIFY(!form.FolderAccepted);
}

void TestDetection::folderPromptTypedLetterByLetter()
{
    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/Games/Quen"), "# Quenmar Online 8.0 x\nHOST=Srv\nPORT=99\n");
    prefix.makeInstallation(QStringLiteral("drive_c/Games/Quenmar"));
    Window window(prefix);
    TForm1 &form = window.show();
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);

    QLineEdit *edit = form.ElFolderNameEdit1->lineEdit();
    edit->clear();
    const QString typed = QStringLiteral("C:\\games\\Quenmar");
    // The player types on until the page changes under their fingers.
    QString acceptedAt;
    for (const QChar c : typed) {
        QTest::keyClick(edit, c.toLatin1());
        if (form.FolderAccepted) {
            acceptedAt = edit->text();
            break;
        }
    }
    QCOMPARE(acceptedAt, QStringLiteral("C:\\games\\Quen"));
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    QCOMPARE(form.InstallFolder, QStringLiteral("C:\\games\\Quen"));
    QCOMPARE(form.Label3->text(), QStringLiteral("C:\\games\\Quen"));
    QCOMPARE(form.Label4->text(), QStringLiteral("8.0 "));
    QCOMPARE(form.Label15->text(), QStringLiteral("srv"));
    QCOMPARE(form.Label17->text(), QStringLiteral("99"));
    QVERIFY(window.exceptions.isEmpty());
}

void TestDetection::folderPromptJoinsTextUnchanged_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("executableIsFolder");
    QTest::newRow("trailing backslash doubles the seam") << QStringLiteral("c:\\Games\\Q\\") << false;
    QTest::newRow("forward slashes") << QStringLiteral("c:/Games/Q") << false;
    QTest::newRow("a folder named quenmar.exe counts") << QStringLiteral("c:\\Games\\Q") << true;
}

void TestDetection::folderPromptJoinsTextUnchanged()
{
    QFETCH(QString, typed);
    QFETCH(bool, executableIsFolder);
    Prefix prefix;
    const QString folder = prefix.makeFolder(QStringLiteral("drive_c/Games/Q"));
    if (executableIsFolder)
        prefix.makeFolder(QStringLiteral("drive_c/Games/Q/quenmar.exe"));
    else
        Prefix::writeFile(folder + QStringLiteral("/quenmar.exe"), "MZ");
    Prefix::writeFile(folder + QStringLiteral("/config/setup.ini"), "HOST=h\n");
    Window window(prefix);
    TForm1 &form = window.show();

    form.ElFolderNameEdit1->setText(typed);
    QVERIFY(form.FolderAccepted);
    QCOMPARE(form.InstallFolder, typed);
    QCOMPARE(form.Label15->text(), QStringLiteral("h"));
}

void TestDetection::folderPromptBrowse_data()
{
    // Host paths are written below "<prefix>" (the Wine prefix) or "<outside>" (a folder of
    // the host outside it), each holding an installation at "Somewhere/Quenmar".
    QTest::addColumn<QString>("typed");      // the folder text before browsing; null: "c:\"
    QTest::addColumn<QStringList>("drives"); // more drive links: "x:" and their targets
    QTest::addColumn<QString>("opensAt");    // the chooser's folder, links resolved
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("text");       // the folder text once chosen
    if (!fixture::prefixIsWine())
        QSKIP("the chooser's paths through a Wine prefix's drive links");

    const QString inC = QStringLiteral("<prefix>/drive_c/Somewhere/Quenmar");
    const QString driveC = QStringLiteral("<prefix>/drive_c");
    const QString gameC = QStringLiteral("C:\\Somewhere\\Quenmar");
    QTest::newRow("first text: drive C:") << QString() << QStringList() << driveC << inC << gameC;
    QTest::newRow("typed folder, other letter case")
        << QStringLiteral("C:\\SOMEWHERE") << QStringList() << QStringLiteral("<prefix>/drive_c/Somewhere") << inC
        << gameC;
    QTest::newRow("typed folder that does not exist: drive C:")
        << QStringLiteral("c:\\Nowhere") << QStringList() << driveC << inC << gameC;
    QTest::newRow("typed file, not a folder: drive C:")
        << QStringLiteral("c:\\Somewhere\\Quenmar\\quenmar.exe") << QStringList() << driveC << inC << gameC;
    QTest::newRow("typed drive that does not exist: drive C:")
        << QStringLiteral("q:\\") << QStringList() << driveC << inC << gameC;
    QTest::newRow("typed drive D: opens at its target")
        << QStringLiteral("d:") << QStringList{QStringLiteral("d:"), QStringLiteral("<outside>")}
        << QStringLiteral("<outside>") << QStringLiteral("<outside>/Somewhere/Quenmar")
        << QStringLiteral("D:\\Somewhere\\Quenmar");
    QTest::newRow("chosen through the drive's link")
        << QString() << QStringList() << driveC << QStringLiteral("<prefix>/dosdevices/c:/Somewhere/Quenmar") << gameC;
    QTest::newRow("drive D: inside drive C:: the nearer drive")
        << QString() << QStringList{QStringLiteral("d:"), QStringLiteral("<prefix>/drive_c/Somewhere")} << driveC
        << inC << QStringLiteral("D:\\Quenmar");
    QTest::newRow("two drives on one folder: the first letter")
        << QString() << QStringList{QStringLiteral("m:"), QStringLiteral("<outside>"), QStringLiteral("k:"),
                                    QStringLiteral("<outside>")}
        << driveC << QStringLiteral("<outside>/Somewhere/Quenmar") << QStringLiteral("K:\\Somewhere\\Quenmar");
    QTest::newRow("drive Z: for the host's root")
        << QString() << QStringList{QStringLiteral("z:"), QStringLiteral("/")} << driveC
        << QStringLiteral("<outside>/Somewhere/Quenmar") << QStringLiteral("Z:<outside>/Somewhere/Quenmar");
    QTest::newRow("no drive reaches it: the host path")
        << QString() << QStringList() << driveC << QStringLiteral("<outside>/Somewhere/Quenmar")
        << QStringLiteral("<outside>/Somewhere/Quenmar");
}

void TestDetection::folderPromptBrowse()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, drives);
    QFETCH(QString, opensAt);
    QFETCH(QString, chosen);
    QFETCH(QString, text);

    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/Somewhere/Quenmar"), "PORT=1234\n");
    QTemporaryDir outside;
    Prefix::writeFile(outside.path() + QStringLiteral("/Somewhere/Quenmar/quenmar.exe"), "MZ");
    Prefix::writeFile(outside.path() + QStringLiteral("/Somewhere/Quenmar/config/setup.ini"), "PORT=1234\n");
    const auto place = [&](QString path, bool windows = false) {
        path.replace(QStringLiteral("<prefix>"), QFileInfo(prefix.path()).canonicalFilePath());
        path.replace(QStringLiteral("<outside>"), QFileInfo(outside.path()).canonicalFilePath());
        if (windows && path.startsWith(QStringLiteral("Z:")))
            path.replace(QLatin1Char('/'), QLatin1Char('\\'));
        return path;
    };
    for (qsizetype i = 0; i + 1 < drives.size(); i += 2)
        QVERIFY(QFile::link(place(drives.at(i + 1)), prefix.path() + QStringLiteral("/dosdevices/") + drives.at(i)));

    Window window(prefix);
    TForm1 &form = window.show();
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);
    if (!typed.isNull())
        form.ElFolderNameEdit1->setText(typed);
    const QString before = form.ElFolderNameEdit1->text();

    // Cancelled: nothing changes.
    QStringList titles;
    QStringList starts;
    qm::Dialogs::setFolderHook([&](const QString &title, const QString &start) -> std::optional<QString> {
        titles.append(title);
        starts.append(start);
        return std::nullopt;
    });
    form.ElFolderNameEdit1->browse();
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);
    QCOMPARE(form.ElFolderNameEdit1->text(), before);

    qm::Dialogs::setFolderHook([&](const QString &title, const QString &start) -> std::optional<QString> {
        titles.append(title);
        starts.append(start);
        return place(chosen);
    });
    QTest::mouseClick(form.ElFolderNameEdit1->browseButton(), Qt::LeftButton);
    QCOMPARE(titles, QStringList(2, QStringLiteral("Where is Quenmar installed?")));
    QCOMPARE(starts, QStringList(2, place(opensAt)));
    QCOMPARE(form.ElFolderNameEdit1->text(), place(text, true));
    QVERIFY(form.FolderAccepted);
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 0);
    QCOMPARE(form.Label3->text(), place(text, true));
    QCOMPARE(form.Label17->text(), QStringLiteral("1234"));
}

// Every change of the text shows the folder and version as they stand, accepted or not.
void TestDetection::folderPromptShowsFolderWhenRejecting()
{
    Prefix prefix;
    prefix.writeUserReg("\"Version\"=\"5.1\"");
    Window window(prefix);
    TForm1 &form = window.show();
    QCOMPARE(form.Label3->text(), QStringLiteral("not found"));
    form.Label4->setText(QStringLiteral("?"));

    form.ElFolderNameEdit1->setText(QStringLiteral("c:\\Nowhere"));
    QVERIFY(!form.FolderAccepted);
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);
    QCOMPARE(form.Label3->text(), QString());
    QCOMPARE(form.Label4->text(), QStringLiteral("5.1"));
    QCOMPARE(form.Label15->text(), QStringLiteral("-"));
    QVERIFY(window.exceptions.isEmpty());
}

void TestDetection::folderPromptSwallowsFailures_data()
{
    QTest::addColumn<QString>("raiseOnExists");
    QTest::addColumn<QString>("raiseOnRead");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("testing for the executable raises") << QStringLiteral("\\quenmar.exe") << QString() << false;
    // Accepted and switched before the header is read: that much stays done.
    QTest::newRow("reading the header raises") << QString() << QStringLiteral("\\setup.ini") << true;
}

// Whatever fails while the player types ends the prompt silently.
void TestDetection::folderPromptSwallowsFailures()
{
    QFETCH(QString, raiseOnExists);
    QFETCH(QString, raiseOnRead);
    QFETCH(bool, accepted);
    Prefix prefix;
    prefix.makeInstallation(QStringLiteral("drive_c/Games/Quenmar"), "# Quenmar Online 8.0 x\nHOST=Srv\n");
    Window window(prefix);
    RaisingFiles files(window.files);
    window.form = std::make_unique<TForm1>(qm::Platform{window.registry, files, window.echo, window.shell,
                                                        window.system, window.publicHosts, nullptr, nullptr});
    TForm1 &form = *window.form;
    form.Timer1->stop();
    form.show();
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 4);

    files.raiseOnExists = raiseOnExists;
    files.raiseOnRead = raiseOnRead;
    form.ElFolderNameEdit1->setText(QStringLiteral("c:\\Games\\Quenmar"));
    QCOMPARE(window.exceptions, QStringList());
    QCOMPARE(window.messages, QStringList());
    QCOMPARE(form.FolderAccepted, accepted);
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), accepted ? 0 : 4);
    QCOMPARE(form.InstallFolder, accepted ? QStringLiteral("c:\\Games\\Quenmar") : QString());
    // The labels are written after the header: they are not reached.
    QCOMPARE(form.Label3->text(), QStringLiteral("not found"));
    QCOMPARE(form.Label15->text(), QStringLiteral("-"));
}

void TestDetection::hostLowerCase_data()
{
    QTest::addColumn<QByteArray>("host"); // as the settings file holds it, in the ANSI code page
    QTest::addColumn<QString>("shown");

    QTest::newRow("A to Z") << QByteArray("GAME.Quenmar.TEST") << QStringLiteral("game.quenmar.test");
    QTest::newRow("letters beyond Z keep their case")
        << QByteArray("\xC9QUIPE.\xDC" "BER.\xC0") << QStringLiteral("\u00C9quipe.\u00DCber.\u00C0");
    QTest::newRow("digits and signs unchanged") << QByteArray("[@Z09_^`{]") << QStringLiteral("[@z09_^`{]");
}

// Only the letters A to Z are lowered: a host with other letters is shown as it is written.
void TestDetection::hostLowerCase()
{
    QFETCH(QByteArray, host);
    QFETCH(QString, shown);
    Prefix prefix;
    prefix.writeUserReg("\"Directory\"=\"c:\\\\Quenmar\"");
    prefix.makeInstallation(QStringLiteral("drive_c/Quenmar"), "HOST=" + host + "\nPORT=1\n");
    Window window(prefix);
    TForm1 &form = window.show();
    QCOMPARE(form.Label15->text(), shown);
}

QTEST_MAIN(TestDetection)
#include "tst_detection.moc"
