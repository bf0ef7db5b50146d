#include "testutil.h"

#include <QCoreApplication>
#include <QTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <gtest/gtest.h>
#include <QFile>
#include <unistd.h>

namespace testutil {

bool waitFor(const std::function<bool()> &pred, std::chrono::milliseconds timeout)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() >= timeout.count())
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(1000);
    }
    return true;
}

void pump(std::chrono::milliseconds span)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < span.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        usleep(1000);
    }
}

bool isRoot() { return geteuid() == 0; }

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int withoutIcmpAccess(const std::function<int()> &body)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (unshare(CLONE_NEWNET) != 0)
            _exit(10);
        __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2]{};
        if (syscall(SYS_capget, &hdr, data) != 0)
            _exit(11);
        data[0].effective &= ~(1u << CAP_NET_RAW);
        data[0].permitted &= ~(1u << CAP_NET_RAW);
        if (syscall(SYS_capset, &hdr, data) != 0)
            _exit(12);
        _exit(body());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

long residentKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

ScratchDir::ScratchDir()
{
    hadOld_ = qEnvironmentVariableIsSet("IDLIX_DIR");
    old_ = qgetenv("IDLIX_DIR");
    qputenv("IDLIX_DIR", dir_.path().toLocal8Bit());
}

ScratchDir::~ScratchDir()
{
    if (hadOld_)
        qputenv("IDLIX_DIR", old_);
    else
        qunsetenv("IDLIX_DIR");
}

BusyCores::BusyCores(int threads)
{
    for (int i = 0; i < threads; ++i)
        threads_.emplace_back([this] {
            while (!stop_)
                spins_.fetch_add(1, std::memory_order_relaxed);
        });
}

BusyCores::~BusyCores()
{
    stop_ = true;
    for (auto &t : threads_)
        t.join();
}

} // namespace testutil

namespace testutil {

FileSizeLimit::FileSizeLimit(unsigned long long bytes)
{
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    oldCur_ = old.rlim_cur;
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old;
    lim.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &lim) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit lim{};
    getrlimit(RLIMIT_FSIZE, &lim);
    lim.rlim_cur = oldCur_;
    setrlimit(RLIMIT_FSIZE, &lim);
    std::signal(SIGXFSZ, oldHandler_);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
}

} // namespace testutil
