// The program as a process fed hostile files: whatever its settings file,
// server list or phone book holds (lines of megabytes, a book of 130,000
// entries, tags, a FIFO, a link), its window answers within 2 s from the
// start on, it stays within a bounded memory, and SIGTERM ends it within 2 s.
// "Answers" is what a user clicking the window would see: a request to come
// to the front, sent through the single-instance socket, is handled.
// RUN_SERIAL: the cases measure how long the window takes to answer.
#include "../support/childprogram.h"
#include "../support/testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <map>
#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The longest a window may keep a user waiting, and the most memory a run
// may take at its peak (the program alone takes about 40 MB).
constexpr qint64 kAnswerMs = 2000;
constexpr long kPeakKiB = 200 * 1024;
// How long each run is watched from its start.
constexpr qint64 kWatchMs = 3000;

using Files = std::map<QString, QByteArray>;
// A file of the data folder that is a FIFO, or a link to the file of that
// name in a "dotfiles" folder beside it.
const QByteArray kFifo = "<fifo>";
const QByteArray kLinkTo = "<link>";

// Starts a cycling echo session at start: the simulated line is already up.
Files CyclingAtStart(const QByteArray &servers)
{
    return {{"idlix2.ini", "[Anti-Idle Options]\r\nMethod=1\r\nOptions=0\r\n"
                           "[Dial-Up Options]\r\nConnection=0\r\nConnect On Start=1\r\n"
                           "Start AI=1\r\n"},
            {"book.ini", "[Line]\r\nDialResult=602\r\n"},
            {"Servers.dat", servers}};
}

struct Case {
    const char *name;
    Files files;
    // Checked once the program has ended: its error output and data folder.
    std::function<void(const QString &stderrText, const testutil::ScratchDir &dir)> after;
};

// What one run of the program did.
struct Run {
    qint64 longestAnswerMs = -1;   // -1: no answer at all
    long peakKiB = 0;
    bool ended = false;
    qint64 endMs = 0;
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString errors;
};

// How long the window takes to handle one request to come to the front; -1
// when it is not handled within limitMs.
qint64 AnswerMs(const QString &socket, qint64 limitMs)
{
    QElapsedTimer t;
    t.start();
    const QByteArray path = QFile::encodeName(socket);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.constData());
    const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    qint64 answered = -1;
    if (s >= 0 && ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
        && ::send(s, "activate\n", 9, MSG_NOSIGNAL) == 9) {
        // The program closes the connection once it has read the request.
        for (;;) {
            const qint64 left = limitMs - t.elapsed();
            pollfd p{s, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, int(left)) <= 0)
                break;
            char c;
            const ssize_t n = ::recv(s, &c, 1, 0);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                answered = t.elapsed();
                break;
            }
        }
    }
    if (s >= 0)
        ::close(s);
    return answered;
}

long PeakKiB(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

void Prepare(const testutil::ScratchDir &dir, const Files &files)
{
    for (const auto &[name, content] : files) {
        const QString path = dir.file(name);
        if (content == kFifo) {
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (content == kLinkTo) {
            ASSERT_TRUE(QDir(dir.path()).mkpath("dotfiles"));
            testutil::writeFile(dir.file("dotfiles/" + name), "[General]\r\nStay on Top=1\r\n");
            ASSERT_TRUE(QFile::link("dotfiles/" + name, path));
        } else {
            testutil::writeFile(path, content);
        }
    }
}

// Starts the program on dir (in a network namespace of its own when
// isolated, so that no lookup of its session can leave the machine), asks
// its window to the front every 100 ms for kWatchMs, then sends SIGTERM.
Run RunProgram(const testutil::ScratchDir &dir, bool isolated)
{
    Run run;
    const QString runtime = dir.file("run");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner);
    QProcessEnvironment env = testutil::programEnvironment(dir);
    env.insert("IDLIX_PHONEBOOK", dir.file("book.ini"));
    QProcess p;
    p.setProcessEnvironment(env);
    if (isolated)
        p.start("unshare", {"--net", "--", testutil::programPath()});
    else
        p.start(testutil::programPath(), {});
    if (!p.waitForStarted(5000))
        return run;
    QElapsedTimer since;
    since.start();
    // The socket is there before any window is made.
    QString socket;
    while (socket.isEmpty() && since.elapsed() < 5000) {
        const QStringList found = QDir(runtime).entryList({"*.sock"}, QDir::System);
        if (!found.isEmpty())
            socket = runtime + "/" + found.first();
        else
            QThread::msleep(10);
    }
    if (!socket.isEmpty()) {
        run.longestAnswerMs = 0;
        while (since.elapsed() < kWatchMs) {
            const qint64 ms = AnswerMs(socket, kAnswerMs + 1000);
            if (ms < 0) {
                run.longestAnswerMs = -1;
                break;
            }
            run.longestAnswerMs = std::max(run.longestAnswerMs, ms);
            QThread::msleep(100);
        }
    }
    run.peakKiB = PeakKiB(p.processId());
    QElapsedTimer end;
    end.start();
    ::kill(pid_t(p.processId()), SIGTERM);
    run.ended = p.waitForFinished(int(kAnswerMs));
    run.endMs = end.elapsed();
    if (!run.ended) {
        p.kill();
        p.waitForFinished(5000);
    }
    run.exitCode = p.exitCode();
    run.exitStatus = p.exitStatus();
    run.errors = QString::fromUtf8(p.readAllStandardError());
    return run;
}

void RunCases(const std::vector<Case> &cases, bool isolated)
{
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::ScratchDir dir;
        ASSERT_NO_FATAL_FAILURE(Prepare(dir, c.files));
        const Run run = RunProgram(dir, isolated);
        EXPECT_GE(run.longestAnswerMs, 0) << "the window did not answer within "
                                          << kAnswerMs + 1000 << " ms; it said:\n"
                                          << run.errors.toStdString();
        EXPECT_LE(run.longestAnswerMs, kAnswerMs);
        EXPECT_GT(run.peakKiB, 0);
        EXPECT_LE(run.peakKiB, kPeakKiB);
        EXPECT_TRUE(run.ended) << "still running " << kAnswerMs << " ms after SIGTERM";
        EXPECT_EQ(run.exitStatus, QProcess::NormalExit);
        EXPECT_EQ(run.exitCode, 0);
        if (c.after)
            c.after(run.errors, dir);
    }
}

bool ProgramBuilt()
{
    return QFile::exists(testutil::programPath());
}

} // namespace

TEST(HostileFiles, TheWindowAnswersAndSigtermEndsTheProgram)
{
    if (!ProgramBuilt())
        GTEST_SKIP() << "program not built at " << testutil::programPath().toStdString();
    QByteArray bigBook;
    for (int i = 0; i < 130000; ++i)
        bigBook += "[" + QByteArray::number(0x10000 + i, 16) + "]\n";
    auto isFifo = [](const QString &path) {
        struct stat st {};
        return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
    };
    const std::vector<Case> cases = {
        {"a phone book of 1 MiB, 130,000 entries, the first dialed at start",
         {{"book.ini", bigBook},
          {"idlix2.ini", "[Dial-Up Options]\r\nConnection=0\r\nConnect On Start=1\r\n"}},
         {}},
        {"tags in the settings, the server list and the phone book",
         {{"idlix2.ini", "[Anti-Idle Options]\r\nHost=<b>typed</b>\r\n"},
          {"Servers.dat", "<b>srv</b>\r\n<h1>big</h1>\r\n"},
          {"book.ini", "[<b>Demo</b>]\r\n"}},
         [](const QString &, const testutil::ScratchDir &dir) {
             EXPECT_TRUE(testutil::readFile(dir.file("idlix2.ini")).contains("Host=<b>typed</b>"));
         }},
        {"the settings file is a FIFO",
         {{"idlix2.ini", kFifo}},
         [&](const QString &errors, const testutil::ScratchDir &dir) {
             // Not replaced, and said on the error stream and in the session
             // log, not in a box.
             EXPECT_TRUE(isFifo(dir.file("idlix2.ini")));
             const QString said = "Unable to write to " + dir.file("idlix2.ini");
             EXPECT_TRUE(errors.contains("idlix: " + said)) << errors.toStdString();
             EXPECT_TRUE(testutil::readFile(dir.file("AI_Log.txt")).contains("\x95 " + said.toUtf8() + "\r\n"));
         }},
        {"the server list is a FIFO", {{"Servers.dat", kFifo}},
         [&](const QString &, const testutil::ScratchDir &dir) {
             EXPECT_TRUE(isFifo(dir.file("Servers.dat")));
         }},
        {"the phone book is a FIFO", {{"book.ini", kFifo}}, {}},
        {"the settings file is a link into a dotfiles folder",
         {{"idlix2.ini", kLinkTo}},
         [](const QString &, const testutil::ScratchDir &dir) {
             EXPECT_TRUE(QFileInfo(dir.file("idlix2.ini")).isSymLink());
             const QByteArray saved = testutil::readFile(dir.file("dotfiles/idlix2.ini"));
             EXPECT_TRUE(saved.contains("[Anti-Idle Options]")) << saved.constData();
         }},
    };
    RunCases(cases, testutil::isRoot());
}

TEST(HostileFiles, LongServerLinesInACyclingSession)
{
    if (!ProgramBuilt())
        GTEST_SKIP() << "program not built at " << testutil::programPath().toStdString();
    if (!testutil::isRoot())
        GTEST_SKIP() << "needs root: the session's lookups are kept in a network namespace "
                        "of the program's own";
    const std::vector<Case> cases = {
        {"a line of 0.1 MB", CyclingAtStart(QByteArray(100 * 1000, 'a') + "\r\n"), {}},
        {"a line of 1 MB", CyclingAtStart(QByteArray(1000 * 1000, 'a') + "\r\n"), {}},
        {"a line of 20 MB", CyclingAtStart(QByteArray(20 * 1000 * 1000, 'a') + "\r\n"), {}},
    };
    RunCases(cases, true);
}
