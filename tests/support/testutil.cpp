#include "testutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
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

} // namespace testutil
