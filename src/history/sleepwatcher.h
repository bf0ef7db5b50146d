// Pauses the anti-idle session while the machine sleeps: logind says
// PrepareForSleep(true) on the system bus before a suspend or hibernation and
// PrepareForSleep(false) after it. While asleep no probe goes out and none
// counts against the line; the history shows the time as "suspended".
//
// A delay lock (logind's Inhibit "sleep" in "delay" mode) is held while
// awake, so that logind waits for the pause before the machine goes down;
// it is given back once the pause is made and taken again on waking.
#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QPointer>

class TAntiIdleSession;

namespace history {

class TSleepWatcher : public QObject {
    Q_OBJECT
public:
    // Watches the system bus (DBUS_SYSTEM_BUS_ADDRESS when set) for 'session'.
    // Without a bus or logind it watches nothing and says so in Watching().
    explicit TSleepWatcher(TAntiIdleSession &session, QObject *parent = nullptr);
    ~TSleepWatcher() override;

    // Connected to the system bus and subscribed to logind's signal.
    bool Watching() const { return watching_; }
    // A delay lock is held now.
    bool HoldsDelayLock() const { return lock_.isValid(); }
    // The machine is between PrepareForSleep(true) and (false).
    bool Asleep() const { return asleep_; }

public slots:
    // logind's signal: true before sleeping, false after waking.
    void PrepareForSleep(bool start);
    // The bus's NameOwnerChanged for logind's name.
    void LogindOwnerChanged(const QString &name, const QString &oldOwner, const QString &newOwner);

private:
    void TakeDelayLock();
    // logind's name lost or changed its owner: resumes what it paused.
    void LogindChanged();

    QPointer<TAntiIdleSession> session_;
    QDBusConnection bus_;
    bool watching_ = false;
    bool asleep_ = false;
    bool asking_ = false;                 // an Inhibit call is on its way
    QDBusUnixFileDescriptor lock_;
};

} // namespace history
