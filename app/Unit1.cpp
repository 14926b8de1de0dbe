#include "app/Unit1.h"

#include "app/GameSite.h"
#include "platform/Ansi.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/SystemInfo.h"
#include "platform/widgets/Dialogs.h"
#include "settings/Configuration.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <array>
#include <utility>

namespace {

const QString GameKey = QStringLiteral("Software\\QuenmarOnline");
const QString WaitingText = QStringLiteral("Please wait for the test to finish");
const QString UnknownProblems = QStringLiteral("Unknown problems, check your internet connection please..");
const QString ServerNotFound = QStringLiteral("Your internet works fine, but the quenmar server was not found at all");
const QString Passed = QStringLiteral("passed");
// The light strips of the header and footer; it also tints the borderless entries.
const QColor Parchment(0xF7, 0xF5, 0xEE);

QFont designFont(int pixelSize, bool bold = false, bool underline = false)
{
    QFont font;
    // The design's face first; on systems without it, faces of the same metrics.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setUnderline(underline);
    return font;
}

void setColour(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

// The letters A to Z in lower case, every other byte unchanged.
std::string asciiLower(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

// A decimal integer text: optional sign and digits, within 32 bits.
bool parseDecimal(const QString &text, int &value)
{
    const QStringView digits = text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-'))
                                   ? QStringView(text).mid(1)
                                   : QStringView(text);
    if (digits.isEmpty()
        || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return false;
    bool ok = false;
    value = text.toInt(&ok, 10);
    return ok;
}

} // namespace

TForm1::TForm1(qm::Platform platform, QWidget *parent)
    : QWidget(parent), Ping(platform.echo), Timer1(new QTimer(this)),
      ClientSocket1(new qm::TClientSocket(this)), m_platform(std::move(platform))
{
    Q_INIT_RESOURCE(resources);
    setupUi(this);
    applyDesign();
    bindEvents();
    // Sees every event of the program first, to drop the input that a blocking echo held up.
    QCoreApplication::instance()->installEventFilter(this);
    Timer1->setInterval(100);
    Timer1->start();
}

TForm1::~TForm1()
{
    QCoreApplication::instance()->removeEventFilter(this);
    // The socket's handlers refer to this window: no event may reach them any more.
    ClientSocket1->OnConnect = nullptr;
    ClientSocket1->OnDisconnect = nullptr;
    ClientSocket1->OnError = nullptr;
}

void TForm1::applyDesign()
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(535, 392);
    setFont(designFont(11));
    setAutoFillBackground(true);
    setColour(this, QPalette::Window, Qt::white);
    setColour(this, QPalette::WindowText, Qt::black);
    setWindowIcon(QIcon(QStringLiteral(":/resources/icon-16.png")));

    setColour(Panel1, QPalette::Window, QColor(0xDC, 0xD7, 0xCB));
    setColour(Panel2, QPalette::Window, Parchment);
    setColour(Panel3, QPalette::Window, Parchment);

    ElPageControl1->TabFont = designFont(11);
    ElPageControl1->setAutoFillBackground(true);
    setColour(ElPageControl1, QPalette::Window, Qt::white);

    // Every label of the pages: 13 px unless listed otherwise.
    for (QLabel *label : ElPageControl1->findChildren<QLabel *>())
        label->setFont(designFont(13));
    for (QLabel *label : {Label3, Label4, Label15, Label17, Label28})
        label->setFont(designFont(13, true));
    for (QLabel *label : {Label10, Label19, Label11, Label12}) {
        label->setFont(designFont(13, true));
        setColour(label, QPalette::WindowText, Qt::red);
    }
    Label20->setFont(designFont(13, true, true));
    Label22->setFont(designFont(13, false, true));
    Label26->setFont(designFont(11));
    for (QLabel *link : {static_cast<QLabel *>(Label24), static_cast<QLabel *>(Label25)}) {
        link->setFont(designFont(13, false, true));
        setColour(link, QPalette::WindowText, QColor(0x89, 0x7E, 0x6B));
    }

    for (qm::TElPopupButton *button : {SpeedButton1, ElPopupButton1}) {
        button->setFont(designFont(16, false, true));
        setColour(button, QPalette::Button, QColor(0xEF, 0xEC, 0xDE));
        setColour(button, QPalette::ButtonText, Qt::black);
    }

    Memo1->setFont(designFont(13));
    Memo1->setFrameShape(QFrame::NoFrame);

    Edit1->setFont(designFont(16, true));
    Edit1->setCursor(Qt::IBeamCursor);
    // The entries have no border: a light tint shows where to type on the white page.
    setColour(Edit1, QPalette::Base, Parchment);
    Edit2->setFont(designFont(16, true));
    Edit2->setTextMargins(0, 6, 1, 0);
    Edit2->setCursor(Qt::IBeamCursor);
    setColour(Edit2, QPalette::Base, Parchment);
    setColour(ElFolderNameEdit1->lineEdit(), QPalette::Base, Parchment);

    ElFolderNameEdit1->setFont(designFont(11));
    ElFolderNameEdit1->DialogTitle = QStringLiteral("Where is Quenmar installed?");
    QPixmap glyph(QStringLiteral(":/resources/browse.bmp"));
    if (!glyph.isNull()) // the bottom-left pixel's colour is the glyph's transparent colour
        glyph.setMask(glyph.createMaskFromColor(glyph.toImage().pixelColor(0, glyph.height() - 1)));
    ElFolderNameEdit1->browseButton()->setIcon(QIcon(glyph));
    ElFolderNameEdit1->browseButton()->setIconSize(QSize(13, 11));
    if (m_platform.hostFolder)
        ElFolderNameEdit1->StartFolder = m_platform.hostFolder;
    if (m_platform.windowsFolder)
        ElFolderNameEdit1->ChosenText = m_platform.windowsFolder;

    // Each entry is named by the label beside it; the links follow the request button.
    Label29->setBuddy(ElFolderNameEdit1->lineEdit());
    ElFolderNameEdit1->lineEdit()->setAccessibleName(Label29->text());
    ElFolderNameEdit1->browseButton()->setAccessibleName(ElFolderNameEdit1->DialogTitle);
    Label31->setBuddy(Edit1);
    Edit1->setAccessibleName(Label31->text());
    Label32->setBuddy(Edit2);
    Edit2->setAccessibleName(Label32->text());
    Memo1->setAccessibleName(QStringLiteral("Cleaner results"));
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, ElPopupButton1);
    setTabOrder(ElPopupButton1, Label24);
    setTabOrder(Label24, Label25);

    // Captions may hold any character: nothing in them is markup. A label without word
    // wrap sizes itself to its caption.
    for (QLabel *label : findChildren<QLabel *>()) {
        label->setTextFormat(Qt::PlainText);
        if (!label->wordWrap() && label != Image1)
            label->adjustSize();
    }
}

void TForm1::bindEvents()
{
    using qm::guarded;
    ElPageControl1->OnChanging = [this](QWidget *newPage, bool &allowChange) {
        guarded([&] { ElPageControl1Changing(ElPageControl1, newPage, allowChange); });
    };
    ElPageControl1->OnChange = [this] { guarded([&] { ElPageControl1Change(ElPageControl1); }); };
    ElFolderNameEdit1->OnChange = [this] { guarded([&] { ElFolderNameEdit1Change(ElFolderNameEdit1); }); };
    connect(Timer1, &QTimer::timeout, this, [this] { guarded([&] { Timer1Timer(Timer1); }); });
    ClientSocket1->OnConnect = [this] { guarded([&] { ClientSocket1Connect(ClientSocket1); }); };
    ClientSocket1->OnDisconnect = [this] { guarded([&] { ClientSocket1Disconnect(ClientSocket1); }); };
    ClientSocket1->OnError = [this](int &errorCode) {
        guarded([&] { ClientSocket1Error(ClientSocket1, errorCode); });
    };
    SpeedButton1->OnClick = [this] { guarded([&] { SpeedButton1Click(SpeedButton1); }); };
    Label24->OnClick = [this] { guarded([&] { Label24Click(Label24); }); };
    Label25->OnClick = [this] { guarded([&] { Label25Click(Label25); }); };
    ElPopupButton1->OnClick = [this] { guarded([&] { ElPopupButton1Click(ElPopupButton1); }); };
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // Centred on the desktop, every screen of it together, as a whole window: frame and
    // title bar included (the window exists by now, so its frame is known).
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect desktop = screen->virtualGeometry();
        const QSize outer = frameGeometry().size();
        move(desktop.x() + (desktop.width() - outer.width()) / 2,
             desktop.y() + (desktop.height() - outer.height()) / 2);
    }
    qm::guarded([this] { FormShow(this); });
}

void TForm1::setCaption(QLabel *label, const QString &caption)
{
    label->setText(caption);
    // A label without word wrap sizes itself to its caption.
    if (!label->wordWrap())
        label->adjustSize();
}

// ---------------------------------------------------------------------------------------
// Page control

void TForm1::ElPageControl1Changing(QObject *, QWidget *, bool &AllowChange)
{
    // The folder prompt holds the player until a folder was accepted.
    if (ElPageControl1->ActivePageIndex() == 4)
        AllowChange = FolderAccepted;
}

void TForm1::ElPageControl1Change(QObject *)
{
    if (ElPageControl1->ActivePageIndex() == 3)
        preparePasswordPage();
    if (ElPageControl1->ActivePageIndex() == 1 && !TestStarted)
        startConnectionTest();
}

// ---------------------------------------------------------------------------------------
// Installation page and folder prompt

void TForm1::FormShow(QObject *)
{
    showWhereFound();
    if (const auto key = m_platform.registry.openKey(QStringLiteral("\\") + GameKey)) {
        InstallFolder = key->readString(QStringLiteral("Directory"));
        ClientVersion = key->readString(QStringLiteral("Version"));
    }

    if (InstallFolder.size() < 2) {
        static const std::array<std::pair<const char *, const char *>, 4> usualFolders = {{
            {"c:\\program files\\quenmaronline", "c:\\Program files\\QuenmarOnline"},
            {"d:\\program files\\quenmaronline", "d:\\Program files\\QuenmarOnline"},
            {"e:\\program files\\quenmaronline", "e:\\Program files\\QuenmarOnline"},
            {"c:\\quenmaronline", "c:\\QuenmarOnline"},
        }};
        // Every folder is tried: the last one that exists wins.
        for (const auto &[tested, stored] : usualFolders) {
            if (m_platform.files.exists(QString::fromLatin1(tested)))
                InstallFolder = QString::fromLatin1(stored);
        }
        if (InstallFolder.size() > 1)
            readHeaderVersion(InstallFolder + QStringLiteral("\\config\\setup.ini"));
    }

    setCaption(Label3, InstallFolder);
    setCaption(Label4, ClientVersion);
    if (InstallFolder.size() > 1)
        showHostAndPort(InstallFolder);
    if (InstallFolder.size() < 2) {
        setCaption(Label3, QStringLiteral("not found"));
        ElPageControl1->setActivePageIndex(4);
    }
}

void TForm1::ElFolderNameEdit1Change(QObject *)
{
    // Whatever goes wrong while the player types is no news to them.
    try {
        QString folder = ElFolderNameEdit1->text();
        if (m_platform.files.exists(folder + QStringLiteral("\\quenmar.exe"))) {
            // A folder in another Windows than the one read so far moves there first.
            if (m_platform.folderAccepted) {
                folder = m_platform.folderAccepted(folder);
                showWhereFound();
            }
            // Accepted before the switch, or the prompt's own veto would refuse it.
            FolderAccepted = true;
            InstallFolder = folder;
            ElPageControl1->setActivePageIndex(0);
            readHeaderVersion(folder + QStringLiteral("\\config\\setup.ini"));
        }
        setCaption(Label3, InstallFolder);
        setCaption(Label4, ClientVersion);
        if (InstallFolder.size() > 1)
            showHostAndPort(InstallFolder);
    } catch (...) {
    }
}

void TForm1::showWhereFound()
{
    if (m_platform.whereFound)
        Label3->setToolTip(m_platform.whereFound());
}

void TForm1::readHeaderVersion(const QString &settingsPath)
{
    std::string text;
    if (!m_platform.files.readWholeFile(settingsPath, text))
        return;
    static constexpr std::string_view header = "# Quenmar Online ";
    if (text.size() < header.size() || text.compare(0, header.size(), header) != 0)
        return;
    const std::string_view rest = std::string_view(text).substr(header.size());
    // The version runs up to and including the first blank, wherever it stands.
    const std::size_t blank = rest.find(' ');
    ClientVersion = blank == std::string_view::npos ? QString() : qm::fromAnsi(rest.substr(0, blank + 1));
}

void TForm1::showHostAndPort(const QString &folder)
{
    const Config config(folder, m_platform.files);
    setCaption(Label15, qm::fromAnsi(asciiLower(config.GetHost())));
    setCaption(Label17, QString::number(config.GetPort()));
}

// ---------------------------------------------------------------------------------------
// Connection test

void TForm1::startConnectionTest()
{
    TestStarted = true;
    TestTick = 0;
    TestRunning = true;
    for (QLabel *label : {Label10, Label11, Label19, Label12})
        setVerdict(label, Verdict::InProgress);
    setCaption(Label13, WaitingText);
    setCaption(Label8, QStringLiteral("Testing ") + Label15->text());
    setCaption(Label9, QStringLiteral("Testing TCP port ") + Label17->text());
}

void TForm1::Timer1Timer(QObject *)
{
    if (!TestRunning)
        return;
    // Each test reads the counter afresh: a step's socket events may move it on.
    if (TestTick == 0) {
        loopbackStep();
        dropInputMadeMeanwhile();
    }
    if (TestTick == 2) {
        internetStep();
        dropInputMadeMeanwhile();
    }
    if (TestTick == 4) {
        serverPingStep();
        dropInputMadeMeanwhile();
    }
    if (TestTick == 8)
        connectStep();
    // A socket event just before the closing step can carry the counter past 33; the
    // closing step must still run once, or a connection would stay open for good.
    if (TestTick >= 33)
        closingStep();
    ++TestTick;
}

void TForm1::loopbackStep()
{
    try {
        Ping.Address = QStringLiteral("127.0.0.1");
        if (Ping.Ping() > 0) {
            setVerdict(Label10, Verdict::Passed);
        } else {
            setVerdict(Label10, Verdict::Failed);
            setCaption(Label13, UnknownProblems);
        }
    } catch (...) {
        setVerdict(Label10, Verdict::Error);
        setCaption(Label13, UnknownProblems);
    }
}

void TForm1::internetStep()
{
    try {
        for (const QString &host : m_platform.publicHosts) {
            Ping.Address = host;
            if (Ping.Ping() > 0) {
                setVerdict(Label19, Verdict::Passed);
                return;
            }
        }
        setVerdict(Label19, Verdict::Failed);
        if (resultPending())
            setCaption(Label13, QStringLiteral("There is something wrong with your internet connection"));
    } catch (...) {
        setVerdict(Label19, Verdict::Error);
        if (resultPending())
            setCaption(Label13, UnknownProblems);
    }
}

void TForm1::serverPingStep()
{
    try {
        Ping.Address = Label15->text();
        if (Ping.Ping() > 0) {
            setVerdict(Label11, Verdict::Passed);
        } else {
            setVerdict(Label11, Verdict::Failed);
            if (resultPending())
                setCaption(Label13, ServerNotFound);
        }
    } catch (...) {
        setVerdict(Label11, Verdict::Error);
        if (resultPending())
            setCaption(Label13, ServerNotFound);
    }
}

// An echo step blocks the window for up to seconds. Mouse and key presses made meanwhile
// wait in the window system's queue; handled afterwards, they would act on whatever the
// window shows by then, which the player never saw: a click on a tab and then on the spot
// where that page's button sits would press the button. They are taken from the queue now
// and dropped, with the releases of the dropped mouse presses; whatever else waited,
// repaints above all, is handled as usual. Timer and socket events are left to the event
// loop, so neither the schedule nor the connection moves on inside this handler.
void TForm1::dropInputMadeMeanwhile()
{
    m_droppingInput = true;
    QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers | QEventLoop::X11ExcludeTimers);
    m_droppingInput = false;
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonDblClick:
        if (m_droppingInput) {
            m_droppedButtons |= static_cast<QMouseEvent *>(event)->button();
            return true;
        }
        break;
    // The release may come after the step, when the button was held down across its end.
    case QEvent::MouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonRelease: {
        const Qt::MouseButton button = static_cast<QMouseEvent *>(event)->button();
        if (m_droppedButtons & button) {
            m_droppedButtons &= ~button;
            return true;
        }
        break;
    }
    // A key press first asks whether a shortcut takes it; "taken" ends that without one.
    case QEvent::ShortcutOverride:
    case QEvent::KeyPress:
        if (m_droppingInput) {
            event->accept();
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::connectStep()
{
    ClientSocket1->setActive(false);
    ClientSocket1->Host = Label15->text();
    int port = 0;
    if (!parseDecimal(Label17->text(), port)) {
        // No port to try ("-" when no settings were read): the attempt fails as a
        // refused one would, and the schedule runs on to its end.
        ClientSocket1Disconnect(ClientSocket1);
        return;
    }
    ClientSocket1->Port = port;
    try {
        ClientSocket1->setActive(true);
    } catch (...) {
        // A start that failed at once has reported its disconnect already.
    }
}

void TForm1::closingStep()
{
    if (ClientSocket1->Active()) {
        ClientSocket1->setActive(false);
    } else if (Label12->text() != Passed) {
        if (resultPending())
            setCaption(Label13, portMessage());
        setVerdict(Label12, Verdict::Failed);
    }
    TestRunning = false;
}

void TForm1::ClientSocket1Connect(QObject *)
{
    if (TestTick < 8)
        return;
    if (resultPending())
        setCaption(Label13, QStringLiteral("There is nothing wrong with your connection! If you are having troubles it "
                                           "is probably because the server is too busy/full at this moment.."));
    setVerdict(Label12, Verdict::Passed);
    ++TestTick;
}

void TForm1::ClientSocket1Disconnect(QObject *)
{
    if (TestTick < 8)
        return;
    // The close of a connection that was made is no failure.
    if (Label12->text() == Passed)
        return;
    if (resultPending())
        setCaption(Label13, portMessage());
    setVerdict(Label12, Verdict::Failed);
    ++TestTick;
}

void TForm1::ClientSocket1Error(QObject *, int &ErrorCode)
{
    // A connection that cannot be made shows as failed at the closing step.
    ErrorCode = 0;
}

void TForm1::setVerdict(QLabel *label, Verdict verdict)
{
    struct Look
    {
        const char *caption;
        QColor colour;
    };
    static const Look looks[] = {
        {"test in progress..", QColor(0x00, 0x00, 0x00)},
        {"passed", QColor(0x00, 0x80, 0x00)},
        {"failed", QColor(0xFF, 0x00, 0x00)},
        {"error", QColor(0xFF, 0x00, 0x00)},
    };
    const Look &look = looks[static_cast<int>(verdict)];
    setCaption(label, QString::fromLatin1(look.caption));
    setColour(label, QPalette::WindowText, look.colour);
}

bool TForm1::resultPending() const
{
    return Label13->text() == WaitingText;
}

QString TForm1::portMessage() const
{
    return QStringLiteral("Server ") + Label15->text() + QStringLiteral(" was found but port ") + Label17->text()
           + QStringLiteral(" was not found, is this the correct port? also check if you are running a firewall!");
}

// ---------------------------------------------------------------------------------------
// Cache cleaner

void TForm1::SpeedButton1Click(QObject *)
{
    const QString folder = Label3->text();
    if (folder.size() < 2)
        return;
    SpeedButton1->hide();
    setCaption(Label22, QStringLiteral("Cleaner results"));
    Memo1->show();
    CleanFolder(folder + QStringLiteral("\\maps"), QByteArrayLiteral(".qmf"));
    CleanFolder(folder + QStringLiteral("\\pub"), QByteArrayLiteral("*"));
    Memo1->addLine(QStringLiteral("all done, try play Quenmar to see if it worked :)"));
}

void TForm1::CleanFolder(const QString &folder, const QByteArray &pattern)
{
    const bool everything = pattern == "*";
    m_platform.files.listFolder(folder, [&](const QByteArray &name) {
        if (!everything && !name.contains(pattern))
            return;
        if (name == "." || name == "..")
            return;
        if (m_platform.files.deleteFile(folder, name))
            Memo1->addLine(QStringLiteral("removed ") + folder + QLatin1Char('\\') + QString::fromUtf8(name));
    });
}

// ---------------------------------------------------------------------------------------
// Password recovery help

void TForm1::preparePasswordPage()
{
    Edit1->setEditText(QString());
    Edit2->setText(QString());
    Edit1->setFocus();
    Edit1->clear();
    if (const auto key = m_platform.registry.openKey(GameKey)) {
        for (const QString &account : key->subkeyNames())
            Edit1->addItem(account);
    }
    // Filling the list must not fill the entry.
    Edit1->setCurrentIndex(-1);
    Edit1->setEditText(QString());
}

void TForm1::Label24Click(QObject *)
{
    m_platform.shell.open(QStringLiteral("http://") + GameSite::WebHost + QStringLiteral("/pwrecovery.html"));
}

void TForm1::Label25Click(QObject *)
{
    m_platform.shell.open(QStringLiteral("http://") + GameSite::WebHost + QStringLiteral("/testrecovery.html"));
}

void TForm1::ElPopupButton1Click(QObject *)
{
    if (qm::toAnsi(Edit1->currentText()).isEmpty()) {
        qm::Dialogs::message(this, QStringLiteral("Please enter your correct accountname"));
        return;
    }
    // A computer name reads through a buffer of 16 characters, its terminating zero included.
    const QString computer = m_platform.system.computerName().left(15).left(32);
    const auto serial = m_platform.system.volumeSerial(QStringLiteral("c:\\"));
    const QString serialText = (serial ? QString::number(*serial) : QStringLiteral("unknown")).left(32);

    const QByteArray identity = qm::toAnsi(Edit1->currentText() + QLatin1Char('#') + Edit2->text()
                                           + QLatin1Char('#') + computer + QLatin1Char('#') + serialText);
    // Keyless and reversible: last byte first, each moved by 101.
    QByteArray hashcode;
    hashcode.reserve(identity.size() * 2);
    for (qsizetype k = identity.size() - 1; k >= 0; --k)
        hashcode.append(QByteArray::number((static_cast<unsigned char>(identity.at(k)) + 101) % 256, 16)
                            .rightJustified(2, '0')
                            .toUpper());

    Edit1->setEditText(QString());
    Edit2->setText(QString());

    const unsigned requestNumber = m_requestNumbers() % 900;
    m_platform.shell.open(QStringLiteral("mailto:") + GameSite::SupportMail + QStringLiteral("?subject=")
                          + QString::number(requestNumber)
                          + QStringLiteral(" QM password recovery request&body=Hashcode check request: ")
                          + QString::fromLatin1(hashcode));
}
