// The single-instance guard: lock file, stale locks, and the activation
// request from a later instance to the running one.
#include "desktop/instanceguard.h"

#include "../support/testutil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QUuid>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using desktop::TInstanceGuard;

namespace {
// A title of its own per test, so runs never meet each other's locks; the
// lock files are removed when the test binary ends.
QStringList &madeTitles()
{
    static QStringList titles;
    return titles;
}

QString freshTitle()
{
    const QString t = "Idlix test " + QUuid::createUuid().toString(QUuid::WithoutBraces);
    madeTitles() << t;
    return t;
}

class LockFileCleanup : public ::testing::Environment {
public:
    void TearDown() override
    {
        for (const QString &t : madeTitles()) {
            QFile::remove(TInstanceGuard::LockPath(t));
            QFile::remove(TInstanceGuard::SocketPath(t));
        }
    }
};
const auto *cleanup = ::testing::AddGlobalTestEnvironment(new LockFileCleanup);
} // namespace

TEST(InstanceGuard, SecondGuardIsRefusedAndActivatesTheFirst)
{
    const QString title = freshTitle();
    TInstanceGuard first(title);
    ASSERT_TRUE(first.IsFirst());
    ASSERT_TRUE(first.Holds());
    int activations = 0;
    first.OnActivate = [&] { ++activations; };

    {
        TInstanceGuard second(title);
        EXPECT_FALSE(second.IsFirst());
        EXPECT_FALSE(second.Holds());
        EXPECT_TRUE(second.AskFirstToActivate(2000));
        ASSERT_TRUE(testutil::waitFor([&] { return activations == 1; }, 3000ms));
    }
    // A third start asks again.
    TInstanceGuard third(title);
    EXPECT_FALSE(third.IsFirst());
    EXPECT_TRUE(third.AskFirstToActivate(2000));
    ASSERT_TRUE(testutil::waitFor([&] { return activations == 2; }, 3000ms));
    EXPECT_FALSE(first.AskFirstToActivate(100));  // the holder never asks itself

    // Another title is another program.
    TInstanceGuard other(freshTitle());
    EXPECT_TRUE(other.IsFirst());
}

TEST(InstanceGuard, ReleasedGuardCanBeTakenAgain)
{
    const QString title = freshTitle();
    {
        TInstanceGuard first(title);
        ASSERT_TRUE(first.IsFirst());
    }
    TInstanceGuard next(title);
    EXPECT_TRUE(next.IsFirst());
    EXPECT_FALSE(QFile::exists(TInstanceGuard::SocketPath(title) + ".missing"));
}

// A lock file and a socket file left by a process that died do not block
// the next start, and the new holder answers activation requests.
TEST(InstanceGuard, StaleLockOfADeadProcessDoesNotBlock)
{
    const QString title = freshTitle();
    const QByteArray lockPath = QFile::encodeName(TInstanceGuard::LockPath(title));
    const QByteArray sockPath = QFile::encodeName(TInstanceGuard::SocketPath(title));

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The "crashed" instance: takes the lock, binds the socket, and is
        // killed without cleaning up.
        int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT, 0600);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
            ::_exit(2);
        int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", sockPath.constData());
        if (::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(s, 1) != 0)
            ::_exit(3);
        char c = 1;
        (void)!::write(ready[1], &c, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ::close(ready[0]);
    {
        TInstanceGuard whileAlive(title);
        EXPECT_FALSE(whileAlive.IsFirst());
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(QFile::exists(QString::fromLocal8Bit(lockPath)));
    ASSERT_TRUE(QFile::exists(QString::fromLocal8Bit(sockPath)));

    TInstanceGuard next(title);
    EXPECT_TRUE(next.IsFirst());
    EXPECT_TRUE(next.Holds());
    bool activated = false;
    next.OnActivate = [&] { activated = true; };
    TInstanceGuard later(title);
    EXPECT_FALSE(later.IsFirst());
    EXPECT_TRUE(later.AskFirstToActivate(2000));
    EXPECT_TRUE(testutil::waitFor([&] { return activated; }, 3000ms));
}

TEST(InstanceGuard, NoHolderMeansNoDelivery)
{
    // A later instance whose holder has no socket (it is gone) gives up at the
    // time-out instead of hanging.
    const QString title = freshTitle();
    const QByteArray lockPath = QFile::encodeName(TInstanceGuard::LockPath(title));
    int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);  // held, but nobody listens
    TInstanceGuard later(title);
    EXPECT_FALSE(later.IsFirst());
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(later.AskFirstToActivate(300));
    EXPECT_LT(t.elapsed(), 1500);
    ::close(fd);
    ::unlink(lockPath.constData());
}

// What reaches the holder's socket decides: the request whole, however it is
// cut, brings it to the front; anything else, or a caller that says nothing,
// does not, and silent callers cannot keep a later start out.
TEST(InstanceGuard, OnlyTheWholeRequestActivates)
{
    const QString title = freshTitle();
    TInstanceGuard first(title);
    ASSERT_TRUE(first.Holds());
    int activations = 0;
    first.OnActivate = [&] { ++activations; };
    const QByteArray path = QFile::encodeName(TInstanceGuard::SocketPath(title));

    auto connectTo = [&] {
        const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.constData());
        EXPECT_EQ(::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        return s;
    };
    const struct {
        const char *what;
        QList<QByteArray> pieces;  // sent apart, the loop run between them
        int activates;
    } rows[] = {
        {"whole", {"activate\n"}, 1},
        {"in three pieces", {"act", "ivat", "e\n"}, 1},
        {"with more after it", {"activate\nactivate\n"}, 1},
        {"another word", {"activata\n"}, 0},
        {"cut short, then closed", {"activ"}, 0},
        {"nothing, then closed", {}, 0},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.what);
        activations = 0;
        const int s = connectTo();
        for (const QByteArray &piece : r.pieces) {
            ASSERT_EQ(::send(s, piece.constData(), size_t(piece.size()), MSG_NOSIGNAL), piece.size());
            testutil::pump(30ms);
        }
        ::close(s);
        testutil::pump(100ms);
        EXPECT_EQ(activations, r.activates);
    }

    // More silent callers than the holder keeps: the oldest are let go, and
    // a later start still gets through.
    std::vector<int> silent;
    for (int i = 0; i < TInstanceGuard::kMaxCallers + 4; ++i) {
        silent.push_back(connectTo());
        testutil::pump(10ms);
    }
    activations = 0;
    TInstanceGuard later(title);
    EXPECT_TRUE(later.AskFirstToActivate(2000));
    EXPECT_TRUE(testutil::waitFor([&] { return activations == 1; }, 3000ms));
    // The first silent ones were closed by the holder: they read end of file.
    char c;
    EXPECT_EQ(::recv(silent.front(), &c, 1, MSG_DONTWAIT), 0);
    for (int s : silent)
        ::close(s);
}

// A holder whose handler ends the guard itself (the window closing on the
// request) is not touched again after it.
TEST(InstanceGuard, AHandlerMayEndTheGuard)
{
    const QString title = freshTitle();
    auto *first = new TInstanceGuard(title);
    ASSERT_TRUE(first->Holds());
    bool ended = false;
    first->OnActivate = [&] {
        delete first;
        ended = true;
    };
    TInstanceGuard later(title);
    EXPECT_TRUE(later.AskFirstToActivate(2000));
    ASSERT_TRUE(testutil::waitFor([&] { return ended; }, 3000ms));
    EXPECT_FALSE(QFile::exists(TInstanceGuard::SocketPath(title)));
    TInstanceGuard next(title);
    EXPECT_TRUE(next.IsFirst());
}
