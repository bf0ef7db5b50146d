// Local sockets between this user's processes: the listening file is this
// user's alone from the moment it can be reached, it replaces what was at its
// path, and a sender learns why its bytes did not go, within its time.
#include "platform/localsocket.h"

#include "platform/errcodes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

using namespace platform;

namespace {

struct stat StatOf(const std::string &path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        st.st_mode = 0;
    return st;
}

// Takes one connection from the listener and reads until the sender closes.
QByteArray AcceptAndReadAll(SocketHandle listener)
{
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 2000) != 1)
        return "<no caller>";
    const int c = ::accept(listener, nullptr, nullptr);
    QByteArray got;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        got.append(buf, int(n));
    }
    ::close(c);
    return got;
}

// A socket file nobody listens on any more: bound, then closed.
void LeaveDeadSocket(const std::string &path)
{
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ::close(s);
}

} // namespace

TEST(LocalSocket, ListensAsThisUserAloneInPlaceOfWhatWasThere)
{
    QTemporaryDir dir;
    const std::string path = QFile::encodeName(dir.filePath("guard.sock")).toStdString();
    const mode_t oldMask = ::umask(0);  // the widest the kernel would otherwise give
    const struct {
        const char *what;
        std::function<void()> leave;
    } rows[] = {
        {"nothing", [] {}},
        {"a dead socket", [&] { LeaveDeadSocket(path); }},
        {"a plain file", [&] { QFile f(QString::fromStdString(path)); ASSERT_TRUE(f.open(QIODevice::WriteOnly)); }},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        ::unlink(path.c_str());
        r.leave();
        const SocketHandle s = LocalListen(path.c_str(), 4);
        ASSERT_GE(s, 0) << SocketLastError();
        const struct stat st = StatOf(path);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        // Nothing of the staging is left beside it.
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
                  QStringList{"guard.sock"});
        EXPECT_EQ(LocalSendOnce(path.c_str(), "ping\n", 5, 1000), 0) << SocketLastError();
        EXPECT_EQ(AcceptAndReadAll(s), QByteArray("ping\n"));
        SockClose(s);
    }
    ::umask(oldMask);
}

// A later start looks for the file and connects at once: from the moment the
// file is at its path, the socket listens.
TEST(LocalSocket, ACallerThatFindsTheFileIsNeverRefused)
{
    QTemporaryDir dir;
    for (int i = 0; i < 300; ++i) {
        const std::string path = QFile::encodeName(dir.filePath(QStringLiteral("race%1.sock").arg(i))).toStdString();
        std::atomic<int> result{1};
        std::thread caller([&] {
            struct stat st {};
            while (::lstat(path.c_str(), &st) != 0) {
            }
            result = LocalSendOnce(path.c_str(), "x", 1, 1000) == 0 ? 0 : SocketLastError();
        });
        const SocketHandle s = LocalListen(path.c_str(), 4);
        caller.join();
        ASSERT_GE(s, 0) << SocketLastError();
        SockClose(s);
        ASSERT_EQ(result.load(), 0) << "refused at try " << i;
    }
}

TEST(LocalSocket, ASenderLearnsWhyNothingWent)
{
    QTemporaryDir dir;
    const std::string dead = QFile::encodeName(dir.filePath("dead.sock")).toStdString();
    LeaveDeadSocket(dead);
    const std::string missing = QFile::encodeName(dir.filePath("missing.sock")).toStdString();
    const std::string tooLong = QFile::encodeName(dir.path()).toStdString() + "/" + std::string(120, 'n');
    const struct {
        const char *what;
        std::string path;
        int code;
    } rows[] = {
        {"nobody listens", dead, kErrConnRefused},
        {"no such file", missing, ErrnoToCode(ENOENT)},
        {"a path longer than a socket address", tooLong, kErrNameTooLong},
        {"no path", "", ErrnoToCode(ENOENT)},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        SetSocketLastError(0);
        EXPECT_EQ(LocalSendOnce(r.path.c_str(), "x", 1, 500), -1);
        EXPECT_EQ(SocketLastError(), r.code);
    }
    // A listener cannot be made where a caller could not reach it whole.
    SetSocketLastError(0);
    EXPECT_EQ(LocalListen(tooLong.c_str(), 1), -1);
    EXPECT_EQ(SocketLastError(), kErrNameTooLong);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
              QStringList{"dead.sock"});
}

TEST(LocalSocket, ASendToAListenerThatNeverReadsEndsAtItsTime)
{
    QTemporaryDir dir;
    const std::string path = QFile::encodeName(dir.filePath("stuck.sock")).toStdString();
    const SocketHandle s = LocalListen(path.c_str(), 1);
    ASSERT_GE(s, 0);
    // More than any socket buffer holds: the connection is queued, never read.
    const QByteArray big(16 * 1024 * 1024, 'b');
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(LocalSendOnce(path.c_str(), big.constData(), int(big.size()), 300), -1);
    EXPECT_EQ(SocketLastError(), kErrTimedOut);
    EXPECT_GE(t.elapsed(), 250);
    EXPECT_LT(t.elapsed(), 2000);
    SockClose(s);
}

TEST(LocalSocket, AnotherUserCannotConnect)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to become another user";
    QTemporaryDir dir;
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);  // the folder is no barrier
    const std::string path = QFile::encodeName(dir.filePath("mine.sock")).toStdString();
    const SocketHandle s = LocalListen(path.c_str(), 1);
    ASSERT_GE(s, 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const int rc = LocalSendOnce(path.c_str(), "activate\n", 9, 500);
        ::_exit(rc == -1 && SocketLastError() == kErrAccess ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the other user reached the socket; 3: could not change user";
    SockClose(s);
}
