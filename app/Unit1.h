#pragma once

#include "platform/ClientSocket.h"
#include "platform/Echo.h"
#include "platform/Platform.h"
#include "ui_Unit1.h"

#include <QWidget>

#include <cstdint>
#include <random>

class QLabel;
class QTimer;

// The help centre's one window: the header, the page control with its five pages, and
// every handler of the program.
class TForm1 final : public QWidget, public Ui::TForm1
{
    Q_OBJECT

public:
    explicit TForm1(qm::Platform platform, QWidget *parent = nullptr);
    ~TForm1() override;

    // State the pages share.
    QString InstallFolder;
    QString ClientVersion;
    bool TestRunning = false;
    bool TestStarted = false;
    std::int32_t TestTick = 0;
    bool FolderAccepted = false;

    // Non-visual components.
    qm::TPing Ping;
    QTimer *Timer1;
    qm::TClientSocket *ClientSocket1;

    // Handlers, bound to their events by name.
    void FormShow(QObject *Sender);
    void ElPageControl1Changing(QObject *Sender, QWidget *NewPage, bool &AllowChange);
    void ElPageControl1Change(QObject *Sender);
    void ElFolderNameEdit1Change(QObject *Sender);
    void Timer1Timer(QObject *Sender);
    void ClientSocket1Connect(QObject *Sender);
    void ClientSocket1Disconnect(QObject *Sender);
    void ClientSocket1Error(QObject *Sender, int &ErrorCode);
    void SpeedButton1Click(QObject *Sender);
    void Label24Click(QObject *Sender);
    void Label25Click(QObject *Sender);
    void ElPopupButton1Click(QObject *Sender);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Verdict { InProgress, Passed, Failed, Error };

    void applyDesign();
    void bindEvents();

    // Installation page.
    // Names in the tool tip of the installation folder where the game's Windows side is read.
    void showWhereFound();
    void readHeaderVersion(const QString &settingsPath);
    void showHostAndPort(const QString &folder);

    // Connection test.
    void startConnectionTest();
    void loopbackStep();
    void internetStep();
    void serverPingStep();
    void dropInputMadeMeanwhile();
    void connectStep();
    void closingStep();
    static void setVerdict(QLabel *label, Verdict verdict);
    bool resultPending() const;
    QString portMessage() const;

    // Cache cleaner.
    void CleanFolder(const QString &folder, const QByteArray &pattern);

    // Password page.
    void preparePasswordPage();

    static void setCaption(QLabel *label, const QString &caption);

    qm::Platform m_platform;
    bool m_shown = false;
    // Set while the input held up by an echo step is taken from the queue and dropped.
    bool m_droppingInput = false;
    // Mouse buttons whose press was dropped: their release is dropped too.
    Qt::MouseButtons m_droppedButtons;
    // Request numbers: one fixed, portable sequence, the same in every run.
    std::minstd_rand m_requestNumbers;
};
