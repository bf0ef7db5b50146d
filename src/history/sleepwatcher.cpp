#include "history/sleepwatcher.h"

#include "history/historytypes.h"
#include "session/antiidlesession.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace history {

namespace {

const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
const QString kLogin1Path = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

// A connection of this watcher's own: the address is read now, not the one
// the bus library kept from the process's first use of the system bus. It
// is named after the watcher, which disconnects it when it goes: no two
// watchers alive share a name.
QDBusConnection SystemBus(const TSleepWatcher *watcher)
{
    const QString address = qEnvironmentVariable(
        "DBUS_SYSTEM_BUS_ADDRESS", QStringLiteral("unix:path=/var/run/dbus/system_bus_socket"));
    return QDBusConnection::connectToBus(address,
                                         QStringLiteral("idlix-sleep-%1").arg(quintptr(watcher), 0, 16));
}

} // namespace

TSleepWatcher::TSleepWatcher(TAntiIdleSession &session, QObject *parent)
    : QObject(parent), session_(&session), bus_(SystemBus(this))
{
    setObjectName(QStringLiteral("SleepWatcher"));
    if (!bus_.isConnected())
        return;
    watching_ = bus_.connect(kLogin1, kLogin1Path, kManager, QStringLiteral("PrepareForSleep"), this,
                             SLOT(PrepareForSleep(bool)));
    if (!watching_)
        return;
    // A logind that goes away (a crash, a restart while asleep) never says
    // PrepareForSleep(false): the session must not stay paused for good.
    // (The bus's own signal, matched on the name: no call that waits.)
    bus_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), {kLogin1}, QString(),
                 this, SLOT(LogindOwnerChanged(QString, QString, QString)));
    TakeDelayLock();
}

void TSleepWatcher::LogindOwnerChanged(const QString &name, const QString &, const QString &)
{
    if (name == kLogin1)
        LogindChanged();
}

void TSleepWatcher::LogindChanged()
{
    // The old lock belonged to the logind that went; a new one takes its own.
    lock_ = QDBusUnixFileDescriptor();
    if (asleep_)
        PrepareForSleep(false);
    else
        TakeDelayLock();
}

TSleepWatcher::~TSleepWatcher()
{
    const QString name = bus_.name();
    bus_ = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(name);
}

void TSleepWatcher::TakeDelayLock()
{
    if (asking_ || lock_.isValid())
        return;
    asking_ = true;
    QDBusMessage call = QDBusMessage::createMethodCall(kLogin1, kLogin1Path, kManager, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Idlix")
         << QStringLiteral("Pausing the keep-alive probes") << QStringLiteral("delay");
    // Asynchronous: a bus whose logind never answers must not hold up the start.
    auto *pending = new QDBusPendingCallWatcher(bus_.asyncCall(call, 5000), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
        w->deleteLater();
        asking_ = false;
        QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
        // A lock that arrives after the machine went to sleep is not wanted
        // until it wakes.
        if (reply.isValid() && !asleep_)
            lock_ = reply.value();
    });
}

void TSleepWatcher::PrepareForSleep(bool start)
{
    if (start == asleep_)
        return;
    asleep_ = start;
    if (start) {
        if (session_)
            session_->Pause(kSuspended);
        // Paused: logind may go on.
        lock_ = QDBusUnixFileDescriptor();
        return;
    }
    if (session_)
        session_->Resume(kSuspended);
    TakeDelayLock();
}

} // namespace history
