// The password recovery page: the two links, the request mail with its hashcode and
// request number, and the account list read from the game's registry key.

#include "WindowFixture.h"

#include "app/GameSite.h"
#include "platform/Ansi.h"

#include <QCompleter>
#include <QLineEdit>

#include <random>

using fixture::Prefix;
using fixture::Window;

using Serial = std::optional<std::uint32_t>;
Q_DECLARE_METATYPE(Serial)

namespace {

QString requestAddress(int number, const QString &hashcode)
{
    return QStringLiteral("mailto:") + GameSite::SupportMail + QStringLiteral("?subject=") + QString::number(number)
           + QStringLiteral(" QM password recovery request&body=Hashcode check request: ") + hashcode;
}

// A prefix with an installation where the window finds it, so that it opens on the
// first page and the password page can be reached.
void install(Prefix &prefix)
{
    prefix.makeInstallation(QStringLiteral("drive_c/Program Files/QuenmarOnline"));
}

QStringList items(const QComboBox *box)
{
    QStringList result;
    for (int i = 0; i < box->count(); ++i)
        result.append(box->itemText(i));
    return result;
}

void openPasswordPage(TForm1 &form)
{
    form.ElPageControl1->setActivePageIndex(3);
    QCOMPARE(form.ElPageControl1->ActivePageIndex(), 3);
}

void request(TForm1 &form, const QString &account, const QString &realname)
{
    form.Edit1->setEditText(account);
    form.Edit2->setText(realname);
    QTest::mouseClick(form.ElPopupButton1, Qt::LeftButton);
}

const int FirstRequestNumber = 571; // the generator's first value, 48271, modulo 900

} // namespace

class TestRecovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requestMail_data();
    void requestMail();
    void emptyAccountIsRefused();
    void requestClearsEntriesAndNeedsAccountAgain();
    void requestNumbersFollowOneFixedSequence();
    void links_data();
    void links();
    void accountListFromRegistry();
    void noGameKeyGivesEmptyList();
    void accountCompletion_data();
    void accountCompletion();
};

void TestRecovery::requestMail_data()
{
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("realname");
    QTest::addColumn<QString>("computerName");
    QTest::addColumn<Serial>("serial");
    QTest::addColumn<QString>("hashcode");

    const QString pc1 = QStringLiteral("PC1");
    const Serial s42 = 42;
    // Identity strings in the comments, hashcodes worked out by hand: each byte plus 101,
    // modulo 256, last byte first.
    // abc##PC1#42
    QTest::newRow("worked example") << QStringLiteral("abc") << QString() << pc1 << s42
                                    << QStringLiteral("97998896A8B58888C8C7C6");
    // a<9B>##PC1#42: the single right angle quote is byte 155, which wraps to 00.
    QTest::newRow("byte 155 wraps to 00") << QStringLiteral(u"a\u203A") << QString() << pc1 << s42
                                          << QStringLiteral("97998896A8B5888800C6");
    // <FF>##PC1#42
    QTest::newRow("byte 255 gives 64") << QStringLiteral(u"\u00FF") << QString() << pc1 << s42
                                       << QStringLiteral("97998896A8B5888864");
    // abc#<E9>#PC1#42
    QTest::newRow("accented letter in realname") << QStringLiteral("abc") << QStringLiteral(u"\u00E9") << pc1 << s42
                                                 << QStringLiteral("97998896A8B5884E88C8C7C6");
    // Abc##PC1#42: A with macron is not in the code page; Windows writes its best fit, A.
    QTest::newRow("best fit: A with macron") << QStringLiteral(u"\u0100bc") << QString() << pc1 << s42
                                             << QStringLiteral("97998896A8B58888C8C7A6");
    // Lukasz#Erdos#PC1#42: L with stroke and o with double acute by their best fits.
    QTest::newRow("best fit in both entries") << QStringLiteral(u"\u0141ukasz") << QStringLiteral(u"Erd\u0151s")
                                              << pc1 << s42
                                              << QStringLiteral("97998896A8B588D8D4C9D7AA88DFD8C6D0DAB1");
    // ?bc##PC1#42: a Chinese character has no best fit in the code page.
    QTest::newRow("character without a best fit") << QStringLiteral(u"\u4E2Dbc") << QString() << pc1 << s42
                                                  << QStringLiteral("97998896A8B58888C8C7A4");
    // abc#x?#PC1#42: a character beyond the basic plane is one "?", not two.
    QTest::newRow("surrogate pair") << QStringLiteral("abc") << QStringLiteral(u"x\U0001F600") << pc1 << s42
                                    << QStringLiteral("97998896A8B588A4DD88C8C7C6");
    // abc##PC1#2147483649
    QTest::newRow("serial with the top bit set")
        << QStringLiteral("abc") << QString() << pc1 << Serial(0x80000001u)
        << QStringLiteral("9E999B989D999C9996978896A8B58888C8C7C6");
    // abc##PC1#unknown
    QTest::newRow("serial unreadable") << QStringLiteral("abc") << QString() << pc1 << Serial()
                                       << QStringLiteral("D3DCD4D3D0D3DA8896A8B58888C8C7C6");
    // abc##ABCDEFGHIJKLMNO#42: the name comes through a buffer of 15 characters and a zero.
    QTest::newRow("computer name cut to 15") << QStringLiteral("abc") << QString()
                                             << QStringLiteral("ABCDEFGHIJKLMNOPQRST") << s42
                                             << QStringLiteral("979988B4B3B2B1B0AFAEADACABAAA9A8A7A68888C8C7C6");
    // abc###42
    QTest::newRow("computer name unreadable") << QStringLiteral("abc") << QString() << QString() << s42
                                              << QStringLiteral("9799888888C8C7C6");
    // a#b#x#y#PC1#42
    QTest::newRow("# inside both entries unescaped") << QStringLiteral("a#b") << QStringLiteral("x#y") << pc1 << s42
                                                     << QStringLiteral("97998896A8B588DE88DD88C788C6");
    // "   ##PC1#42"
    QTest::newRow("account of blanks only") << QStringLiteral("   ") << QString() << pc1 << s42
                                            << QStringLiteral("97998896A8B58888858585");
}

void TestRecovery::requestMail()
{
    QFETCH(QString, account);
    QFETCH(QString, realname);
    QFETCH(QString, computerName);
    QFETCH(Serial, serial);
    QFETCH(QString, hashcode);
    // The hashcodes were worked out with the Western code page table; where the system's
    // own conversion makes other bytes of the text, they do not apply.
    if (qm::toAnsi(account + realname) != qm::toWindows1252(account + realname))
        QSKIP("the system's code page conversion differs from the Western table for this text");

    Prefix prefix;
    install(prefix);
    Window window(prefix);
    window.system.name = computerName;
    window.system.serial = serial;
    TForm1 &form = window.show();
    openPasswordPage(form);

    request(form, account, realname);

    QCOMPARE(window.shell.opened, QStringList{requestAddress(FirstRequestNumber, hashcode)});
    QVERIFY(window.messages.isEmpty());
    QVERIFY(window.exceptions.isEmpty());
}

void TestRecovery::emptyAccountIsRefused()
{
    Prefix prefix;
    install(prefix);
    Window window(prefix);
    TForm1 &form = window.show();
    openPasswordPage(form);

    request(form, QString(), QStringLiteral("Somewhere"));

    QCOMPARE(window.messages, QStringList{QStringLiteral("Please enter your correct accountname")});
    QVERIFY(window.shell.opened.isEmpty());
    QCOMPARE(form.Edit1->currentText(), QString());
    QCOMPARE(form.Edit2->text(), QStringLiteral("Somewhere"));

    // The refused request used no request number.
    request(form, QStringLiteral("abc"), QString());
    QCOMPARE(window.shell.opened,
             QStringList{requestAddress(FirstRequestNumber, QStringLiteral("97998896A8B58888C8C7C6"))});
}

void TestRecovery::requestClearsEntriesAndNeedsAccountAgain()
{
    Prefix prefix;
    prefix.copyUserReg(QStringLiteral(QM_TEST_DATA "/user.reg"));
    install(prefix);
    Window window(prefix);
    TForm1 &form = window.show();
    openPasswordPage(form);

    request(form, QStringLiteral("abc"), QStringLiteral("Somewhere"));
    QCOMPARE(window.shell.opened.size(), 1);
    QCOMPARE(form.Edit1->currentText(), QString());
    QCOMPARE(form.Edit2->text(), QString());
    // The account list stays until the page is opened again.
    QCOMPARE(items(form.Edit1), (QStringList{QStringLiteral("alice"), QStringLiteral("Bob the Brave"),
                                             QStringLiteral(u"Zo\u00EB")}));

    // Clicking again without typing: the account is gone.
    QTest::mouseClick(form.ElPopupButton1, Qt::LeftButton);
    QCOMPARE(window.messages, QStringList{QStringLiteral("Please enter your correct accountname")});
    QCOMPARE(window.shell.opened.size(), 1);
}

void TestRecovery::requestNumbersFollowOneFixedSequence()
{
    std::minstd_rand generator;
    generator();
    const int second = int(generator() % 900);
    const QString hashcode = QStringLiteral("97998896A8B58888C8C7C6");

    Prefix prefix;
    install(prefix);
    {
        Window window(prefix);
        TForm1 &form = window.show();
        openPasswordPage(form);
        request(form, QStringLiteral("abc"), QString());
        request(form, QStringLiteral("abc"), QString());
        QCOMPARE(window.shell.opened,
                 (QStringList{requestAddress(FirstRequestNumber, hashcode), requestAddress(second, hashcode)}));
    }
    {
        // Another run starts the sequence over.
        Window window(prefix);
        TForm1 &form = window.show();
        openPasswordPage(form);
        request(form, QStringLiteral("abc"), QString());
        QCOMPARE(window.shell.opened, QStringList{requestAddress(FirstRequestNumber, hashcode)});
    }
}

void TestRecovery::links_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("path");
    QTest::newRow("main server") << QStringLiteral("Label24") << QStringLiteral("/pwrecovery.html");
    QTest::newRow("test server") << QStringLiteral("Label25") << QStringLiteral("/testrecovery.html");
}

void TestRecovery::links()
{
    QFETCH(QString, link);
    QFETCH(QString, path);
    Prefix prefix;
    install(prefix);
    Window window(prefix);
    TForm1 &form = window.show();
    openPasswordPage(form);

    auto *label = form.findChild<QLabel *>(link);
    QVERIFY(label);
    QTest::mouseClick(label, Qt::LeftButton);

    QCOMPARE(window.shell.opened, QStringList{QStringLiteral("http://") + GameSite::WebHost + path});
    QVERIFY(window.messages.isEmpty());
}

void TestRecovery::accountListFromRegistry()
{
    Prefix prefix;
    prefix.copyUserReg(QStringLiteral(QM_TEST_DATA "/user.reg"));
    install(prefix);
    Window window(prefix);
    TForm1 &form = window.show();
    // Direct subkeys only ("characters" below alice is not an account), in file order.
    const QStringList accounts = {QStringLiteral("alice"), QStringLiteral("Bob the Brave"), QStringLiteral(u"Zo\u00EB")};

    QVERIFY(QTest::qWaitForWindowActive(&form));

    for (int visit = 0; visit < 3; ++visit) {
        openPasswordPage(form);
        QCOMPARE(items(form.Edit1), accounts);
        QCOMPARE(form.Edit1->currentText(), QString());
        QCOMPARE(form.Edit2->text(), QString());
        QVERIFY(form.Edit1->hasFocus());
        // Left behind for the next visit to clear.
        form.Edit1->setEditText(QStringLiteral("typed"));
        form.Edit2->setText(QStringLiteral("Somewhere"));
        form.Edit2->setFocus();
        form.ElPageControl1->setActivePageIndex(0);
    }

    // The list is read afresh on every visit.
    prefix.writeUserReg("", "[Software\\\\QuenmarOnline\\\\carol] 1700000000\n@=\"\"\n\n");
    openPasswordPage(form);
    QCOMPARE(items(form.Edit1), QStringList{QStringLiteral("carol")});
    QVERIFY(window.messages.isEmpty());
    QVERIFY(window.exceptions.isEmpty());
}

void TestRecovery::noGameKeyGivesEmptyList()
{
    Prefix prefix;
    prefix.writeUserReg(QByteArray());
    install(prefix);
    Window window(prefix);
    TForm1 &form = window.show();

    openPasswordPage(form);
    QCOMPARE(form.Edit1->count(), 0);
    QCOMPARE(form.Edit1->currentText(), QString());
    QVERIFY(window.messages.isEmpty());
    QVERIFY(window.exceptions.isEmpty());
}

void TestRecovery::accountCompletion_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("completion");
    QTest::addColumn<QString>("hashcodeEnd"); // the account and its "#", encoded
    QTest::newRow("Bo") << QStringLiteral("Bo") << QStringLiteral("Bob the Brave")
                        << QStringLiteral("88CADBC6D7A785CACDD985C7D4A7");
    QTest::newRow("al") << QStringLiteral("al") << QStringLiteral("alice") << QStringLiteral("88CAC8CED1C6");
    // Found regardless of case; what case the entry then shows is left to the edit.
    QTest::newRow("lower case for upper") << QStringLiteral("zo") << QStringLiteral(u"Zo\u00EB") << QString();
}

void TestRecovery::accountCompletion()
{
    QFETCH(QString, typed);
    QFETCH(QString, completion);
    QFETCH(QString, hashcodeEnd);
    Prefix prefix;
    prefix.copyUserReg(QStringLiteral(QM_TEST_DATA "/user.reg"));
    install(prefix);
    Window window(prefix);
    TForm1 &form = window.show();
    openPasswordPage(form);

    QVERIFY(form.Edit1->completer());
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QVERIFY(form.Edit1->hasFocus()); // opening the page put it there
    QTest::keyClicks(form.Edit1->lineEdit(), typed);
    QCOMPARE(form.Edit1->completer()->currentCompletion(), completion);

    if (hashcodeEnd.isNull())
        return;

    // The completed name is the account the request carries.
    QCOMPARE(form.Edit1->currentText(), completion);
    QTest::mouseClick(form.ElPopupButton1, Qt::LeftButton);
    QCOMPARE(window.shell.opened.size(), 1);
    const QString hashcode = window.shell.opened.constFirst().section(QStringLiteral("Hashcode check request: "), 1);
    QVERIFY2(hashcode.endsWith(hashcodeEnd), qPrintable(hashcode));
}

QTEST_MAIN(TestRecovery)
#include "tst_recovery.moc"
