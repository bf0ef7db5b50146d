#include "service/systemdnotifier.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>

namespace service {

namespace {

// The variable's value, then gone from the environment.
QByteArray Take(const char *name)
{
    const QByteArray value = qgetenv(name);
    qunsetenv(name);
    return value;
}

QByteArray StatusLine(const QString &status)
{
    QString line = status;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return "STATUS=" + line.toUtf8();
}

} // namespace

qint64 WatchdogUsec(const QByteArray &usec, const QByteArray &pid, qint64 ownPid)
{
    if (!pid.isEmpty()) {
        bool ok = false;
        const qint64 watched = pid.toLongLong(&ok);
        if (!ok || watched != ownPid)
            return 0;
    }
    bool ok = false;
    const qint64 value = usec.toLongLong(&ok);
    return ok && value > 0 ? value : 0;
}

TSystemdNotifier::TSystemdNotifier(QObject *parent)
    : QObject(parent), socket_(Take("NOTIFY_SOCKET"))
{
    const QByteArray usec = Take("WATCHDOG_USEC");
    const QByteArray pid = Take("WATCHDOG_PID");
    const qint64 watchdog = WatchdogUsec(usec, pid, QCoreApplication::applicationPid());
    // Half the time, as systemd asks; at least a millisecond, and within
    // what a timer takes.
    watchdogMs_ = watchdog > 0 ? int(std::clamp<qint64>(watchdog / 2000, 1, 24LL * 3600 * 1000)) : 0;

    WatchdogTimer = new QTimer(this);
    WatchdogTimer->setObjectName(QStringLiteral("WatchdogTimer"));
    WatchdogTimer->setInterval(watchdogMs_);
    // On time even when the loop is busy: a coarse timer may fire 5% late.
    WatchdogTimer->setTimerType(Qt::PreciseTimer);
    connect(WatchdogTimer, &QTimer::timeout, this, [this] { Send("WATCHDOG=1"); });
}

TSystemdNotifier::~TSystemdNotifier() = default;

void TSystemdNotifier::Ready(const QString &status)
{
    Send("READY=1\n" + StatusLine(status));
    if (Enabled() && watchdogMs_ > 0)
        WatchdogTimer->start();
}

void TSystemdNotifier::Status(const QString &status)
{
    Send(StatusLine(status));
}

void TSystemdNotifier::Stopping(const QString &status)
{
    WatchdogTimer->stop();
    Send("STOPPING=1\n" + StatusLine(status));
}

void TSystemdNotifier::Send(const QByteArray &message)
{
    if (!Enabled())
        return;
    QString error;
    if (socket_.Send(message, &error)) {
        lastError_.clear();
        return;
    }
    if (error == lastError_)
        return;
    lastError_ = error;
    if (OnError)
        OnError(QStringLiteral("Cannot tell the service manager: ") + error);
}

} // namespace service
