// The cache cleaner page: one click deletes the cached maps and the game data files of the
// installation that the information page shows, and lists every deleted path.

#include "WindowFixture.h"

#include <QAccessible>
#include <QProcess>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QSet>

using fixture::leasesWork;
using fixture::listed;
using fixture::makeFile;
using fixture::makeFolder;
using fixture::present;
using fixture::Prefix;
using fixture::Window;

namespace {

const QString Closing = QStringLiteral("all done, try play Quenmar to see if it worked :)");
const QString Caution = QStringLiteral("Caution : delete operations will be performed on your harddisk!");
const QString Results = QStringLiteral("Cleaner results");

// The installation every test uses unless it says otherwise: a usual folder, which the
// information page shows as "c:\QuenmarOnline".
const QString InstallRelative = QStringLiteral("drive_c/QuenmarOnline");
const QString InstallCaption = QStringLiteral("c:\\QuenmarOnline");

// The folders above `relative` inside `root`, made on the way.
bool makeParents(const QByteArray &root, const QByteArray &relative)
{
    QByteArray path = root;
    const QByteArrayList parts = relative.split('/');
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        path += '/' + parts.at(i);
        if (!present(path) && !makeFolder(path))
            return false;
    }
    return true;
}

// The player's click on the page's link button.
void clickCleaner(TForm1 &form)
{
    form.ElPageControl1->setActivePageIndex(2);
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 2);
    QVERIFY(form.SpeedButton1->isVisible());
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
}

// The page as an accepted click leaves it, showing exactly `lines`.
void verifyResultsPage(Window &window, const QStringList &lines)
{
    TForm1 &form = *window.form;
    // Every line is there as soon as the click returns; the window shows them once it runs.
    QCOMPARE(form.Memo1->lines(), lines);
    QTRY_COMPARE(form.Memo1->toPlainText(), lines.join(QLatin1Char('\n')));
    QCOMPARE(form.Memo1->lines(), lines);
    QVERIFY(form.SpeedButton1->isHidden());
    QVERIFY(form.Memo1->isVisible());
    QCOMPARE(form.Label22->text(), Results);
    QVERIFY(window.messages.isEmpty());
    QVERIFY(window.exceptions.isEmpty());
}

} // namespace

class TestCleaner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pageBeforeClick();
    void cleans_data();
    void cleans();
    void captions_data();
    void captions();
    void shortCaptionDoesNothing_data();
    void shortCaptionDoesNothing();
    void symbolicLinks_data();
    void symbolicLinks();
    void refusedByTheSystem();
    void hiddenButtonCleansNoMore();
    void buttonNotShownOrRefusedDoesNothing_data();
    void buttonNotShownOrRefusedDoesNothing();
    void memoWrapsLongLines();
    void namesNotUtf8_data();
    void namesNotUtf8();
};

void TestCleaner::pageBeforeClick()
{
    Prefix prefix;
    prefix.writeUserReg({});
    prefix.makeInstallation(InstallRelative);
    Window window(prefix);
    TForm1 &form = window.show();
    form.ElPageControl1->setActivePageIndex(2);

    QCOMPARE(form.Label3->text(), InstallCaption);
    QCOMPARE(form.Label22->text(), Caution);
    QVERIFY(form.SpeedButton1->isVisible());
    QCOMPARE(form.SpeedButton1->text(), QStringLiteral("start cleaning my files"));
    QVERIFY(form.Memo1->isHidden());
    QVERIFY(form.Memo1->lines().isEmpty());
    QVERIFY(form.Memo1->isReadOnly());
}

// Each row lays out the installation's maps and pub folders, runs one click and checks
// what went, what stayed and the lines, in the order the file system lists the entries.
void TestCleaner::cleans_data()
{
    QTest::addColumn<QByteArrayList>("folders"); // below the installation, made first
    QTest::addColumn<QByteArrayList>("files");   // below the installation
    QTest::addColumn<QByteArrayList>("refused"); // names whose deletion the system refuses
    QTest::addColumn<QByteArrayList>("removed"); // of the files: those that go, each with a line

    using L = QByteArrayList;
    QTest::newRow("maps: names holding .qmf go, other case and other names stay")
        << L{} << L{"maps/a.qmf", "maps/b.QMF", "maps/c.qmf.bak", "maps/readme.txt"} << L{}
        << L{"maps/a.qmf", "maps/c.qmf.bak"};
    QTest::newRow("maps: .qmf anywhere in the name, hidden names too")
        << L{} << L{"maps/.qmf", "maps/..qmf", "maps/x.qmf.qmf", "maps/qmf", "maps/a_qmf", "maps/.Qmf", "maps/.qm"}
        << L{} << L{"maps/.qmf", "maps/..qmf", "maps/x.qmf.qmf"};
    QTest::newRow("maps: a folder named like a map stays with its content")
        << L{"maps/old.qmf"} << L{"maps/old.qmf/inner.qmf", "maps/a.qmf"} << L{} << L{"maps/a.qmf"};
    QTest::newRow("pub: every file goes, hidden ones too; a subfolder stays whole")
        << L{"pub/sub", "pub/sub/deeper"}
        << L{"pub/items.dat", "pub/.hidden", "pub/readme.txt", "pub/sub/x.dat", "pub/sub/deeper/y.qmf"} << L{}
        << L{"pub/items.dat", "pub/.hidden", "pub/readme.txt"};
    QTest::newRow("pub: a refused file stays without a line, the others go")
        << L{} << L{"pub/a.dat", "pub/locked.dat", "pub/z.dat"} << L{"locked.dat"} << L{"pub/a.dat", "pub/z.dat"};
    QTest::newRow("maps: a refused map stays without a line, the others go")
        << L{} << L{"maps/a.qmf", "maps/in-use.qmf", "maps/z.qmf", "pub/p.dat"} << L{"in-use.qmf"}
        << L{"maps/a.qmf", "maps/z.qmf", "pub/p.dat"};
    QTest::newRow("both folders: maps lines first, then pub")
        << L{} << L{"maps/a.qmf", "maps/keep.txt", "maps/b.qmf", "pub/a.qmf", "pub/b.txt", "pub/c"} << L{}
        << L{"maps/a.qmf", "maps/b.qmf", "pub/a.qmf", "pub/b.txt", "pub/c"};
    QTest::newRow("no maps folder: pub still cleaned")
        << L{} << L{"pub/a.dat", "pub/b.dat"} << L{} << L{"pub/a.dat", "pub/b.dat"};
    QTest::newRow("no pub folder: maps still cleaned")
        << L{} << L{"maps/a.qmf", "maps/b.txt"} << L{} << L{"maps/a.qmf"};
    QTest::newRow("maps is a file: nothing to list there") << L{} << L{"maps", "pub/a.dat"} << L{} << L{"pub/a.dat"};
    QTest::newRow("neither folder: the closing line alone") << L{} << L{} << L{} << L{};
    QTest::newRow("both folders empty: the closing line alone") << L{"maps", "pub"} << L{} << L{} << L{};
    QTest::newRow("only the installation's own files: nothing else is touched")
        << L{"config", "maps", "pub"} << L{"config/setup.ini", "quenmar.qmf", "data.qmf.txt"} << L{} << L{};

    // Enough names that the file system's order is not the order they were made in.
    L many;
    for (int i = 0; i < 60; ++i)
        many.append("pub/file" + QByteArray::number(i) + ".dat");
    QTest::newRow("pub: many files, listed in the file system's order") << L{} << many << L{} << many;
}

void TestCleaner::cleans()
{
    QFETCH(QByteArrayList, folders);
    QFETCH(QByteArrayList, files);
    QFETCH(QByteArrayList, refused);
    QFETCH(QByteArrayList, removed);
    if (!fixture::namesAreBytes()) {
        QSet<QString> folded;
        for (const QByteArray &file : files)
            folded.insert(QString::fromUtf8(file).toCaseFolded());
        if (folded.size() != files.size())
            QSKIP("names that differ only in case are one file here");
    }

    Prefix prefix;
    prefix.writeUserReg({});
    const QByteArray root = QFile::encodeName(prefix.makeInstallation(InstallRelative));
    for (const QByteArray &folder : folders) {
        QVERIFY(makeParents(root, folder));
        QVERIFY(makeFolder(root + '/' + folder));
    }
    for (const QByteArray &file : files) {
        QVERIFY(makeParents(root, file));
        QVERIFY2(makeFile(root + '/' + file), file.constData());
    }

    // What the lines must say, in the order the file system gives the names.
    QStringList lines;
    const QSet<QByteArray> going(removed.cbegin(), removed.cend());
    for (const char *folder : {"maps", "pub"}) {
        for (const QByteArray &name : listed(root + '/' + folder)) {
            if (going.contains(folder + ('/' + name)))
                lines.append(QStringLiteral("removed ") + InstallCaption + QLatin1Char('\\') + QLatin1String(folder)
                             + QLatin1Char('\\') + QString::fromLatin1(name));
        }
    }
    QCOMPARE(lines.size(), removed.size());
    lines.append(Closing);

    Window window(prefix);
    window.files.refused = QSet<QByteArray>(refused.cbegin(), refused.cend());
    TForm1 &form = window.show();
    QCOMPARE(form.Label3->text(), InstallCaption);
    clickCleaner(form);

    verifyResultsPage(window, lines);
    for (const QByteArray &file : files)
        QVERIFY2(present(root + '/' + file) != going.contains(file), file.constData());
    for (const QByteArray &folder : folders)
        QVERIFY2(present(root + '/' + folder), folder.constData());
    QVERIFY(present(root + "/quenmar.exe"));
}

// The folders are the caption as the page shows it with "\maps" and "\pub" put behind it,
// and so are the lines, whatever the caption looks like.
void TestCleaner::captions_data()
{
    QTest::addColumn<QByteArray>("directoryValue"); // the registry's line; none for a usual folder
    QTest::addColumn<QString>("installation");      // host folder below the prefix
    QTest::addColumn<QString>("caption");           // as the information page shows it

    QTest::newRow("bare drive of two characters")
        << QByteArray("\"Directory\"=\"c:\"") << QStringLiteral("drive_c") << QStringLiteral("c:");
    QTest::newRow("trailing backslash: the separator doubles")
        << QByteArray("\"Directory\"=\"c:\\\\QuenmarOnline\\\\\"") << InstallRelative
        << QStringLiteral("c:\\QuenmarOnline\\");
    QTest::newRow("other case than on disk")
        << QByteArray("\"Directory\"=\"C:\\\\QUENMARONLINE\"") << InstallRelative << QStringLiteral("C:\\QUENMARONLINE");
    QTest::newRow("forward slashes") << QByteArray("\"Directory\"=\"c:/Games/Quenmar\"")
                                     << QStringLiteral("drive_c/Games/Quenmar") << QStringLiteral("c:/Games/Quenmar");
    QTest::newRow("usual folder in its stored case")
        << QByteArray() << QStringLiteral("drive_c/Program Files/QuenmarOnline")
        << QStringLiteral("c:\\Program files\\QuenmarOnline");
}

void TestCleaner::captions()
{
    QFETCH(QByteArray, directoryValue);
    QFETCH(QString, installation);
    QFETCH(QString, caption);

    Prefix prefix;
    prefix.writeUserReg(directoryValue);
    const QByteArray root = QFile::encodeName(prefix.makeInstallation(installation));
    QVERIFY(makeFolder(root + "/maps"));
    QVERIFY(makeFolder(root + "/pub"));
    QVERIFY(makeFile(root + "/maps/a.qmf"));
    QVERIFY(makeFile(root + "/maps/b.txt"));
    QVERIFY(makeFile(root + "/pub/p.dat"));

    Window window(prefix);
    TForm1 &form = window.show();
    QCOMPARE(form.Label3->text(), caption);
    clickCleaner(form);

    verifyResultsPage(window, {QStringLiteral("removed ") + caption + QStringLiteral("\\maps\\a.qmf"),
                               QStringLiteral("removed ") + caption + QStringLiteral("\\pub\\p.dat"), Closing});
    QVERIFY(!present(root + "/maps/a.qmf"));
    QVERIFY(present(root + "/maps/b.txt"));
    QVERIFY(!present(root + "/pub/p.dat"));
}

// A caption shorter than two characters is no installation: the click changes nothing and
// the button stays, so that a later click still works.
void TestCleaner::shortCaptionDoesNothing_data()
{
    QTest::addColumn<QString>("caption");
    QTest::newRow("dash, as before the detection") << QStringLiteral("-");
    QTest::newRow("empty") << QString();
    QTest::newRow("a drive letter alone") << QStringLiteral("c");
}

void TestCleaner::shortCaptionDoesNothing()
{
    QFETCH(QString, caption);

    Prefix prefix;
    prefix.writeUserReg({});
    const QByteArray root = QFile::encodeName(prefix.makeInstallation(InstallRelative));
    QVERIFY(makeFolder(root + "/maps"));
    QVERIFY(makeFolder(root + "/pub"));
    QVERIFY(makeFile(root + "/maps/a.qmf"));
    QVERIFY(makeFile(root + "/pub/p.dat"));

    Window window(prefix);
    TForm1 &form = window.show();
    form.Label3->setText(caption);
    clickCleaner(form);
    QCoreApplication::processEvents();

    QVERIFY(form.SpeedButton1->isVisible());
    QVERIFY(form.Memo1->isHidden());
    QVERIFY(form.Memo1->lines().isEmpty());
    QCOMPARE(form.Memo1->toPlainText(), QString());
    QCOMPARE(form.Label22->text(), Caution);
    QVERIFY(present(root + "/maps/a.qmf"));
    QVERIFY(present(root + "/pub/p.dat"));
    QVERIFY(window.messages.isEmpty());
    QVERIFY(window.exceptions.isEmpty());

    // The same button, clicked again once the page shows an installation.
    form.Label3->setText(InstallCaption);
    clickCleaner(form);
    verifyResultsPage(window, {QStringLiteral("removed c:\\QuenmarOnline\\maps\\a.qmf"),
                               QStringLiteral("removed c:\\QuenmarOnline\\pub\\p.dat"), Closing});
}

// A link to a file is removed as a link: what it points to stays, wherever it lies. A link
// to a folder is a folder in Wine's view: it stays, with no line. (Links to folders used to
// be removed and listed.)
void TestCleaner::symbolicLinks_data()
{
    QTest::addColumn<QByteArray>("link");   // below the installation
    QTest::addColumn<QByteArray>("target"); // below drive_c, made before the link
    QTest::addColumn<bool>("targetIsFolder");
    if (!fixture::symbolicLinks())
        QSKIP("no symbolic links here");

    QTest::newRow("pub: to a file outside the installation") << QByteArray("pub/link.dat")
                                                             << QByteArray("outside/keep.dat") << false;
    QTest::newRow("pub: to a folder outside the installation, which stays") << QByteArray("pub/link")
                                                                            << QByteArray("outside/folder") << true;
    QTest::newRow("pub: to nothing") << QByteArray("pub/dangling") << QByteArray("outside/never-made") << false;
    QTest::newRow("pub: to its own subfolder, which stays") << QByteArray("pub/up")
                                                            << QByteArray("QuenmarOnline/pub/sub") << true;
    QTest::newRow("maps: a map name pointing outside") << QByteArray("maps/x.qmf")
                                                       << QByteArray("outside/real.qmf") << false;
    QTest::newRow("maps: a map name pointing to a folder, which stays")
        << QByteArray("maps/y.qmf") << QByteArray("outside/maps.qmf") << true;
}

void TestCleaner::symbolicLinks()
{
    QFETCH(QByteArray, link);
    QFETCH(QByteArray, target);
    QFETCH(bool, targetIsFolder);

    Prefix prefix;
    prefix.writeUserReg({});
    const QByteArray root = QFile::encodeName(prefix.makeInstallation(InstallRelative));
    const QByteArray driveC = QFile::encodeName(prefix.driveC());
    const QByteArray targetPath = driveC + '/' + target;
    QVERIFY(makeParents(driveC, target));
    const bool made = !target.contains("never-made");
    if (made) {
        if (targetIsFolder) {
            QVERIFY(makeFolder(targetPath));
            QVERIFY(makeFile(targetPath + "/inside.dat"));
        } else {
            QVERIFY(makeFile(targetPath));
        }
    }
    QVERIFY(makeParents(root, link));
    const QByteArray linkPath = root + '/' + link;
    QVERIFY(fixture::makeLink(targetPath, linkPath));

    Window window(prefix);
    TForm1 &form = window.show();
    clickCleaner(form);

    QString line = QStringLiteral("removed ") + InstallCaption + QLatin1Char('\\') + QString::fromLatin1(link);
    line.replace(QLatin1Char('/'), QLatin1Char('\\'));
    verifyResultsPage(window, targetIsFolder ? QStringList{Closing} : QStringList{line, Closing});
    QCOMPARE(present(linkPath), targetIsFolder);
    if (made) {
        QVERIFY(present(targetPath));
        if (targetIsFolder)
            QVERIFY(present(targetPath + "/inside.dat"));
    }
}

// What Windows refuses to delete stays, with no line: a file without write permission
// (read-only under Wine, whoever runs the cleaner, root included), one with no access at
// all, and one that another program holds open. (All of them used to be deleted.)
void TestCleaner::refusedByTheSystem()
{
    if (!fixture::modeBits())
        QSKIP("no mode bits here");
    Prefix prefix;
    prefix.writeUserReg({});
    const QByteArray root = QFile::encodeName(prefix.makeInstallation(InstallRelative));
    QVERIFY(makeFolder(root + "/maps"));
    QVERIFY(makeFolder(root + "/pub"));
    const QByteArrayList going{"maps/a.qmf", "pub/a.dat", "pub/z.dat"};
    const QByteArrayList staying{"maps/readonly.qmf", "pub/readonly.dat", "pub/noaccess.dat", "pub/inuse.dat"};
    for (const QByteArray &file : going + staying)
        QVERIFY2(makeFile(root + '/' + file), file.constData());
    QVERIFY(fixture::setMode(root + "/maps/readonly.qmf", 0444));
    QVERIFY(fixture::setMode(root + "/pub/readonly.dat", 0444));
    QVERIFY(fixture::setMode(root + "/pub/noaccess.dat", 0));

    // Another program holds inuse.dat open while the cleaner works.
    QProcess holder;
    const bool leases = leasesWork(root + "/pub/inuse.dat");
    if (leases) {
        holder.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec 3<\"$0\" && echo open && read line"),
                                                 QFile::decodeName(root + "/pub/inuse.dat")});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAll(), QByteArray("open\n"));
    } else {
        qWarning("this file system takes no leases: a file in use cannot be told here");
        QVERIFY(fixture::removeFile(root + "/pub/inuse.dat"));
    }

    QStringList lines;
    for (const char *folder : {"maps", "pub"}) {
        for (const QByteArray &name : listed(root + '/' + folder)) {
            if (going.contains(folder + ('/' + name)))
                lines.append(QStringLiteral("removed ") + InstallCaption + QLatin1Char('\\') + QLatin1String(folder)
                             + QLatin1Char('\\') + QString::fromLatin1(name));
        }
    }
    lines.append(Closing);

    Window window(prefix);
    TForm1 &form = window.show();
    clickCleaner(form);
    verifyResultsPage(window, lines);
    for (const QByteArray &file : going)
        QVERIFY2(!present(root + '/' + file), file.constData());
    for (const QByteArray &file : staying) {
        if (leases || file != "pub/inuse.dat")
            QVERIFY2(present(root + '/' + file), file.constData());
    }
    if (leases) {
        holder.closeWriteChannel();
        QVERIFY(holder.waitForFinished(10000));
    }
}

// Once hidden, the button is clicked in vain, whatever clicks it: the press action of
// assistive technology (which Qt's button answers even while hidden, and which cleaned a
// second time and wrote a second closing line before), or a program.
void TestCleaner::hiddenButtonCleansNoMore()
{
    Prefix prefix;
    prefix.writeUserReg({});
    const QByteArray root = QFile::encodeName(prefix.makeInstallation(InstallRelative));
    QVERIFY(makeFolder(root + "/pub"));
    QVERIFY(makeFile(root + "/pub/first.dat"));

    Window window(prefix);
    TForm1 &form = window.show();
    clickCleaner(form);
    const QStringList lines{QStringLiteral("removed c:\\QuenmarOnline\\pub\\first.dat"), Closing};
    verifyResultsPage(window, lines);

    QVERIFY(makeFile(root + "/pub/later.dat"));
    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(form.SpeedButton1);
    QVERIFY(button && button->actionInterface());
    QVERIFY(button->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    form.SpeedButton1->click();
    QTest::keyClick(form.SpeedButton1, Qt::Key_Space);
    QTest::qWait(300); // the press action clicks after a short animation

    verifyResultsPage(window, lines);
    QVERIFY(present(root + "/pub/later.dat"));
}

// A button the player cannot see (its page is not shown) or cannot use (disabled) does not
// clean, by any path.
void TestCleaner::buttonNotShownOrRefusedDoesNothing_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("its page not shown") << 0 << true;
    QTest::newRow("disabled on its page") << 2 << false;
}

void TestCleaner::buttonNotShownOrRefusedDoesNothing()
{
    QFETCH(int, page);
    QFETCH(bool, enabled);

    Prefix prefix;
    prefix.writeUserReg({});
    const QByteArray root = QFile::encodeName(prefix.makeInstallation(InstallRelative));
    QVERIFY(makeFolder(root + "/pub"));
    QVERIFY(makeFile(root + "/pub/p.dat"));

    Window window(prefix);
    TForm1 &form = window.show();
    form.ElPageControl1->setActivePageIndex(page);
    form.SpeedButton1->setEnabled(enabled);
    QAccessibleInterface *button = QAccessible::queryAccessibleInterface(form.SpeedButton1);
    QVERIFY(button && button->actionInterface());
    button->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    form.SpeedButton1->click();
    QTest::qWait(300);

    QVERIFY(form.Memo1->isHidden());
    QVERIFY(form.Memo1->lines().isEmpty());
    QVERIFY(!form.SpeedButton1->isHidden());
    QCOMPARE(form.Label22->text(), Caution);
    QVERIFY(present(root + "/pub/p.dat"));

    // Shown and enabled, the same button cleans.
    form.SpeedButton1->setEnabled(true);
    clickCleaner(form);
    verifyResultsPage(window, {QStringLiteral("removed c:\\QuenmarOnline\\pub\\p.dat"), Closing});
}

// The memo wraps its lines, a long path anywhere, and has no horizontal scroll bar. (Long
// paths used to run off the right edge behind a horizontal scroll bar.)
void TestCleaner::memoWrapsLongLines()
{
    Prefix prefix;
    prefix.writeUserReg({});
    const QByteArray root = QFile::encodeName(prefix.makeInstallation(InstallRelative));
    QVERIFY(makeFolder(root + "/pub"));
    const QByteArray longName = QByteArray("a_very_long_cache_file_name_").repeated(6) + ".dat"; // no blank
    QVERIFY(makeFile(root + "/pub/" + longName));

    Window window(prefix);
    TForm1 &form = window.show();
    clickCleaner(form);
    const QString line = QStringLiteral("removed c:\\QuenmarOnline\\pub\\") + QString::fromLatin1(longName);
    verifyResultsPage(window, {line, Closing});

    QCOMPARE(form.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(form.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QVERIFY(!form.Memo1->horizontalScrollBar()->isVisible());
    QVERIFY(form.Memo1->verticalScrollBar()->isVisible());
    // The long line takes more than one row of the memo, and none is wider than it.
    const QTextBlock first = form.Memo1->document()->firstBlock();
    QCOMPARE(first.text(), line);
    QTRY_VERIFY(first.layout() && first.layout()->lineCount() > 1);
    for (int i = 0; i < first.layout()->lineCount(); ++i)
        QVERIFY(first.layout()->lineAt(i).naturalTextWidth() <= form.Memo1->viewport()->width());
    QCOMPARE(form.Memo1->horizontalScrollBar()->maximum(), 0);
}

// Names are bytes on disk: one that is not valid UTF-8 is still deleted, and its line shows
// each undecodable byte as a replacement character.
void TestCleaner::namesNotUtf8_data()
{
    QTest::addColumn<QByteArray>("folder");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("shown");

    const QChar bad = QChar::ReplacementCharacter;
    QTest::newRow("pub: a Latin-1 byte") << QByteArray("pub") << QByteArray("caf\xe9.dat")
                                         << QStringLiteral("caf") + bad + QStringLiteral(".dat");
    QTest::newRow("maps: a byte never found in UTF-8") << QByteArray("maps") << QByteArray("tile\xff.qmf")
                                                       << QStringLiteral("tile") + bad + QStringLiteral(".qmf");
    QTest::newRow("pub: a lone continuation byte") << QByteArray("pub") << QByteArray("\x80x")
                                                   << QString(bad) + QStringLiteral("x");
    QTest::newRow("pub: valid UTF-8 shows as written") << QByteArray("pub") << QByteArray("caf\xc3\xa9.dat")
                                                       << QStringLiteral("caf\u00e9.dat");
}

void TestCleaner::namesNotUtf8()
{
    QFETCH(QByteArray, folder);
    QFETCH(QByteArray, name);
    QFETCH(QString, shown);
    if (!fixture::namesAreBytes() && !name.isValidUtf8())
        QSKIP("file names are not bytes here");

    Prefix prefix;
    prefix.writeUserReg({});
    const QByteArray root = QFile::encodeName(prefix.makeInstallation(InstallRelative));
    const QByteArray path = root + '/' + folder + '/' + name;
    QVERIFY(makeFolder(root + '/' + folder));
    QVERIFY(makeFile(path));

    Window window(prefix);
    TForm1 &form = window.show();
    clickCleaner(form);

    verifyResultsPage(window, {QStringLiteral("removed ") + InstallCaption + QLatin1Char('\\')
                                   + QString::fromLatin1(folder) + QLatin1Char('\\') + shown,
                               Closing});
    QVERIFY(!present(path));
}

QTEST_MAIN(TestCleaner)
#include "tst_cleaner.moc"
