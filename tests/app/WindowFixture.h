#pragma once

// A help centre window on a Wine prefix made in a temporary folder, with fakes for what
// cannot run here: the echo (public hosts), the shell (a browser) and the system's name
// and serial. Files and the registry are the system's real implementations, reading the
// prefix (FixtureSystem.h).

#include "FixtureSystem.h"

#include "app/Unit1.h"
#include "platform/Echo.h"
#include "platform/Exceptions.h"
#include "platform/Shell.h"
#include "platform/SystemInfo.h"
#include "platform/widgets/Dialogs.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTest>

#include <memory>

namespace fixture {

// Answers echo requests from a script: replies per address, or a raised failure.
// `whileBlocking` runs inside each echo, as what the player does while it blocks the window.
class ScriptedEcho final : public qm::EchoTransport
{
public:
    QHash<QString, int> replies;
    QSet<QString> failing;
    QList<qm::EchoRequest> asked;
    std::function<void(const qm::EchoRequest &request)> whileBlocking;

    int echo(const qm::EchoRequest &request) override
    {
        asked.append(request);
        if (whileBlocking)
            whileBlocking(request);
        if (failing.contains(request.address))
            throw qm::EchoError("The echo facility failed");
        return replies.value(request.address, 0);
    }

    QStringList addresses() const
    {
        QStringList result;
        for (const auto &request : asked)
            result.append(request.address);
        return result;
    }
};

class RecordingShell final : public qm::Shell
{
public:
    QStringList opened;
    void open(const QString &address) override { opened.append(address); }
};

class FixedSystemInfo final : public qm::SystemInfo
{
public:
    QString name = QStringLiteral("PC1");
    std::optional<std::uint32_t> serial = 42;
    QString computerName() const override { return name; }
    std::optional<std::uint32_t> volumeSerial(const QString &) const override { return serial; }
};

// The real files, with two hooks on deletion: a name listed in `refused` fails to delete,
// as a file in use would, whatever the file is (the real refusals, of read-only files and
// files open elsewhere, are in tst_cleaner's refusedByTheSystem), and
// `beforeDelete` runs first, as another program changing the folder meanwhile would.
class ScriptedFileSystem final : public qm::FileSystem
{
public:
    explicit ScriptedFileSystem(const QString &prefixDir) : m_files(prefixFiles(prefixDir)) {}

    QSet<QByteArray> refused;
    std::function<void(const QByteArray &name)> beforeDelete;

    bool exists(const QString &path) const override { return m_files->exists(path); }
    bool readWholeFile(const QString &path, std::string &contents) const override
    {
        return m_files->readWholeFile(path, contents);
    }
    bool listFolder(const QString &folder, const std::function<void(const QByteArray &)> &entry) const override
    {
        return m_files->listFolder(folder, entry);
    }
    bool deleteFile(const QString &folder, const QByteArray &name) const override
    {
        if (beforeDelete)
            beforeDelete(name);
        return !refused.contains(name) && m_files->deleteFile(folder, name);
    }

private:
    std::unique_ptr<qm::FileSystem> m_files;
};

// A Wine prefix in a temporary folder: drive C: is "drive_c", D: "drive_d" when made.
class Prefix
{
public:
    Prefix() { addDrive('c'); }

    QString path() const { return m_dir.path(); }
    QString driveC() const { return path() + QStringLiteral("/drive_c"); }

    void addDrive(char letter) { addPrefixDrive(path(), letter); }

    // Creates a folder below the prefix ("drive_c/Games/Quenmar") and returns its host path.
    QString makeFolder(const QString &relative) const
    {
        QDir(path()).mkpath(relative);
        return path() + QLatin1Char('/') + relative;
    }

    static void writeFile(const QString &hostPath, const QByteArray &contents)
    {
        QDir().mkpath(QFileInfo(hostPath).path());
        QFile file(hostPath);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    // An installation: quenmar.exe and, when given, config/setup.ini.
    QString makeInstallation(const QString &relative, const QByteArray &settings = {}) const
    {
        const QString folder = makeFolder(relative);
        writeFile(folder + QStringLiteral("/quenmar.exe"), "MZ");
        if (!settings.isNull())
            writeFile(folder + QStringLiteral("/config/setup.ini"), settings);
        return folder;
    }

    // user.reg with the game's key holding the given lines (already in the file's syntax),
    // or no game key at all when `gameKeyLines` is null.
    void writeUserReg(const QByteArray &gameKeyLines, const QByteArray &more = {}) const
    {
        QByteArray text = "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n\n"
                          "[Software\\\\Wine] 1700000000\n#time=1da0000000000000\n\"Version\"=\"win10\"\n\n";
        if (!gameKeyLines.isNull())
            text += "[Software\\\\QuenmarOnline] 1700000000\n#time=1da0000000000000\n" + gameKeyLines + "\n\n";
        text += more;
        writeFile(path() + QStringLiteral("/user.reg"), text);
    }

    void copyUserReg(const QString &source) const
    {
        QFile::remove(path() + QStringLiteral("/user.reg"));
        QVERIFY(QFile::copy(source, path() + QStringLiteral("/user.reg")));
    }

private:
    QTemporaryDir m_dir;
};

// One window per test, built from the prefix and the fakes; exceptions and message boxes
// are recorded instead of shown.
class Window
{
public:
    explicit Window(Prefix &prefix)
        : m_prefixDir(prefix.path()), m_registry(prefixRegistry(m_prefixDir)), registry(*m_registry),
          files(m_prefixDir)
    {
        m_previousDisplay = qm::setExceptionDisplay([this](const QString &message) { exceptions.append(message); });
        qm::Dialogs::setMessageHook([this](const QString &text) { messages.append(text); });
        qm::Dialogs::setErrorHook([this](const QString &text) { exceptions.append(text); });
    }

    ~Window()
    {
        form.reset();
        qm::Dialogs::clearHooks();
        qm::setExceptionDisplay(m_previousDisplay);
    }

    // Builds the window and shows it, which runs the installation detection.
    TForm1 &show()
    {
        form = std::make_unique<TForm1>(qm::Platform{
            registry, files, echo, shell, system, publicHosts,
            [this](const QString &folder) { return chooserFolder(m_prefixDir, folder); },
            [this](const QString &chosen) { return chosenWindowsPath(m_prefixDir, chosen); }});
        form->Timer1->stop(); // tests drive the schedule themselves
        form->show();
        return *form;
    }

    // Runs the timer handler `count` times, as Timer1 would.
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i)
            form->Timer1Timer(form->Timer1);
    }

    QString m_prefixDir;
    std::unique_ptr<qm::Registry> m_registry;
    qm::Registry &registry;
    ScriptedFileSystem files;
    ScriptedEcho echo;
    RecordingShell shell;
    FixedSystemInfo system;
    QStringList publicHosts{QStringLiteral("first.public.test"), QStringLiteral("second.public.test")};
    QStringList exceptions;
    QStringList messages;
    std::unique_ptr<TForm1> form;

private:
    qm::ExceptionDisplay m_previousDisplay;
};

} // namespace fixture
