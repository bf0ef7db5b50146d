#include "testutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <linux/capability.h>
#include <sched.h>
#include <sys/syscall.h>
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

int loseIcmpAccess()
{
    if (unshare(CLONE_NEWNET) != 0)
        return 10;
    __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &hdr, data) != 0)
        return 11;
    data[0].effective &= ~(1u << CAP_NET_RAW);
    data[0].permitted &= ~(1u << CAP_NET_RAW);
    if (syscall(SYS_capset, &hdr, data) != 0)
        return 12;
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

} // namespace testutil
