#pragma once

// Runs one test function of this test program again, in a child process with a network
// and a mount namespace of its own: only loopback is up, and system files such as
// /etc/hosts or /etc/resolv.conf are replaced by the test's own, seen by that process
// alone. Name lookups there are answered from those files, or by a name server the test
// runs on loopback; nothing reaches another machine or the host's name services.
//
// A test function runs itself this way with QM_RUN_IN_NAMESPACE(files): outside, the
// macro runs the child and ends the function with the child's verdict; inside, it does
// nothing and the function goes on.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace netns {

// A system file and what the child sees in its place.
using ReplacedFile = QPair<QByteArray, QByteArray>;

constexpr const char *InsideVariable = "QM_TEST_IN_NAMESPACE";
constexpr int NoNamespace = 120; // the child's exit status when it could not set itself up

inline bool inside()
{
    return qEnvironmentVariableIsSet(InsideVariable);
}

// Name lookups from the files and the name servers of resolv.conf alone: no resolver
// service or multicast lookup of the host is asked (they would answer from the host's
// network). A cache daemon's socket is hidden as well.
inline ReplacedFile filesAndDnsOnly()
{
    return {"/etc/nsswitch.conf", "hosts: files dns\n"};
}

struct Outcome
{
    bool madeNamespace = false;
    int failures = -1; // of the child's test run
};

namespace detail {

inline bool bringLoopbackUp()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool ok = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags |= IFF_UP | IFF_RUNNING;
    ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return ok;
}

} // namespace detail

// Runs `functionAndTag` ("function:data tag") of this program in the child and waits for it.
inline Outcome run(const QByteArray &functionAndTag, const QList<ReplacedFile> &files)
{
    Outcome outcome;
    QTemporaryDir folder;
    if (!folder.isValid())
        return outcome;

    // Everything the child needs is made before the fork: after it, only plain system calls.
    std::vector<std::string> sources, targets;
    for (int i = 0; i < files.size(); ++i) {
        const QString source = folder.filePath(QString::number(i));
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly) || file.write(files[i].second) != files[i].second.size())
            return outcome;
        sources.push_back(QFile::encodeName(source).toStdString());
        targets.push_back(files[i].first.toStdString());
    }
    // A cache daemon would answer from outside: its socket folder is hidden by an empty one.
    const std::string empty = QFile::encodeName(folder.filePath(QStringLiteral("empty"))).toStdString();
    QDir().mkpath(folder.filePath(QStringLiteral("empty")));
    std::vector<std::string> hidden;
    for (const char *daemon : {"/run/nscd", "/var/run/nscd"}) {
        if (QFileInfo(QString::fromLatin1(daemon)).isDir())
            hidden.push_back(daemon);
    }
    const std::string program = QFile::encodeName(QCoreApplication::applicationFilePath()).toStdString();
    const std::string argument = functionAndTag.toStdString();
    std::vector<char *> argv{const_cast<char *>(program.c_str()), const_cast<char *>(argument.c_str()), nullptr};

    const pid_t child = ::fork();
    if (child < 0)
        return outcome;
    if (child == 0) {
        if (::unshare(CLONE_NEWNET | CLONE_NEWNS) != 0)
            ::_exit(NoNamespace);
        // Nothing mounted here may show outside.
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(NoNamespace);
        for (size_t i = 0; i < sources.size(); ++i) {
            if (::mount(sources[i].c_str(), targets[i].c_str(), nullptr, MS_BIND, nullptr) != 0)
                ::_exit(NoNamespace);
        }
        for (const std::string &path : hidden) {
            if (::mount(empty.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0)
                ::_exit(NoNamespace);
        }
        if (!detail::bringLoopbackUp() || ::setenv(InsideVariable, "1", 1) != 0)
            ::_exit(NoNamespace);
        ::execv(program.c_str(), argv.data());
        ::_exit(NoNamespace);
    }

    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return outcome;
    }
    // A child that died of a signal counts as failed, not as skipped.
    outcome.madeNamespace = !WIFEXITED(status) || WEXITSTATUS(status) != NoNamespace;
    outcome.failures = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

} // namespace netns

// Outside the namespace: runs the current test function and data row in the child and
// ends the function with its verdict. Inside: does nothing.
#define QM_RUN_IN_NAMESPACE(files)                                                                       \
    do {                                                                                                 \
        if (!netns::inside()) {                                                                          \
            QByteArray which = QTest::currentTestFunction();                                             \
            if (QTest::currentDataTag())                                                                 \
                which += QByteArray(":") + QTest::currentDataTag();                                      \
            const netns::Outcome outcome = netns::run(which, files);                                     \
            if (!outcome.madeNamespace)                                                                  \
                QSKIP("cannot make a network and mount namespace here (needs root or CAP_SYS_ADMIN)");  \
            QVERIFY2(outcome.failures == 0, "the test failed in its namespace: see the output above");  \
            return;                                                                                      \
        }                                                                                                \
    } while (false)
