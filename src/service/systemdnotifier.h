// systemd's readiness protocol for a service of Type=notify: READY=1 once
// the service works, STATUS= lines for `systemctl status`, WATCHDOG=1 from
// the event loop at half the watchdog time, STOPPING=1 on the way out.
// Without $NOTIFY_SOCKET (not started by systemd) every call does nothing.
#pragma once

#include "platform/notifysocket.h"

#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace service {

// The watchdog time systemd asks for, in microseconds: $WATCHDOG_USEC when
// it is a positive number and $WATCHDOG_PID is unset or names 'ownPid' (the
// variables may have been inherited from a parent that systemd watches);
// else 0, no watchdog.
qint64 WatchdogUsec(const QByteArray &usec, const QByteArray &pid, qint64 ownPid);

class TSystemdNotifier : public QObject {
    Q_OBJECT
public:
    // Reads $NOTIFY_SOCKET, $WATCHDOG_USEC and $WATCHDOG_PID, and takes them
    // out of the environment so that no program started later speaks for
    // this one.
    explicit TSystemdNotifier(QObject *parent = nullptr);
    ~TSystemdNotifier() override;

    // Started by systemd with a socket to tell.
    bool Enabled() const { return socket_.Valid(); }
    // Why a socket that was named cannot be used (empty when all is well).
    QString Error() const { return socket_.Error(); }
    // Milliseconds between two WATCHDOG=1 (half the watchdog time); 0 off.
    int WatchdogIntervalMs() const { return watchdogMs_; }

    // READY=1, with the status line; the watchdog starts.
    void Ready(const QString &status);
    // STATUS=<one line>.
    void Status(const QString &status);
    // STOPPING=1, with the status line; the watchdog stops.
    void Stopping(const QString &status);

    QTimer *WatchdogTimer = nullptr;  // sends WATCHDOG=1 while it runs

    // Told when a message could not be sent (once for each kind of failure
    // in a row, so a missing listener does not fill the log).
    std::function<void(const QString &)> OnError;

private:
    void Send(const QByteArray &message);

    platform::TNotifySocket socket_;
    int watchdogMs_ = 0;
    QString lastError_;
};

} // namespace service
