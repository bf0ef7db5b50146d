#include "bus/meteredwatch.h"

#include "bus/dbusbus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

#include <algorithm>

namespace bus {

namespace {

const char kBusName[] = "idlix-metered";
const char kService[] = "org.freedesktop.NetworkManager";
const char kPath[] = "/org/freedesktop/NetworkManager";
const char kProps[] = "org.freedesktop.DBus.Properties";
const char kMetered[] = "Metered";

QDBusConnection Bus()
{
    return NamedBus(TBusKind::System, QString::fromLatin1(kBusName));
}

} // namespace

TMeteredWatch::TMeteredWatch(QObject *parent) : QObject(parent) {}

void TMeteredWatch::Start()
{
    QDBusConnection bus = Bus();
    if (!bus.isConnected())
        return;
    // The manager's Metered is that of the device with the best default
    // route: the primary connection's.
    bus.connect(kService, kPath, kProps, QStringLiteral("PropertiesChanged"), this,
                SLOT(propertiesChanged(QString,QVariantMap,QStringList)));
    auto *watcher = new QDBusServiceWatcher(QString::fromLatin1(kService), bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) {
                // Gone: nothing is known to be metered. Back: ask again.
                if (owner.isEmpty()) {
                    ++reads_;
                    set(false);
                } else {
                    read();
                }
            });
    read();
}

void TMeteredWatch::read()
{
    QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, kProps, QStringLiteral("Get"));
    get.setArguments({QString::fromLatin1(kService), QString::fromLatin1(kMetered)});
    auto *w = new QDBusPendingCallWatcher(Bus().asyncCall(get, std::max(1, CallTimeoutMs)), this);
    const int ticket = ++reads_;
    connect(w, &QDBusPendingCallWatcher::finished, this, [this, w, ticket] {
        w->deleteLater();
        if (ticket != reads_)
            return;
        const QDBusMessage reply = w->reply();
        // An older NetworkManager without the property, or none at all: not metered.
        const bool ok = reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
        set(ok && IsMetered(reply.arguments().at(0).value<QDBusVariant>().variant().toUInt()));
    });
}

void TMeteredWatch::propertiesChanged(const QString &iface, const QVariantMap &changed,
                                      const QStringList &invalidated)
{
    if (iface != QLatin1String(kService))
        return;
    const QString name = QString::fromLatin1(kMetered);
    if (changed.contains(name)) {
        ++reads_;   // newer than any read still out
        set(IsMetered(changed.value(name).toUInt()));
    } else if (invalidated.contains(name)) {
        read();
    }
}

void TMeteredWatch::set(bool metered)
{
    if (metered == metered_)
        return;
    metered_ = metered;
    if (auto handler = OnChange)
        handler(metered);
}

} // namespace bus
