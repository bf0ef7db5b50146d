#include "bus/dbusbus.h"

#include <map>

namespace bus {

QDBusConnection NamedBus(TBusKind kind, const QString &name)
{
    // The address each named connection was made to (GUI thread only). It
    // sits beside Qt's own registry of named connections, which is as
    // process-wide as this is.
    static std::map<QString, QString> used;
    const bool session = kind == TBusKind::Session;
    const QString address = qEnvironmentVariable(session ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS");
    QDBusConnection c(name);
    const auto it = used.find(name);
    if (c.isConnected() && it != used.end() && it->second == address)
        return c;
    QDBusConnection::disconnectFromBus(name);
    used[name] = address;
    if (!address.isEmpty())
        return QDBusConnection::connectToBus(address, name);
    return QDBusConnection::connectToBus(session ? QDBusConnection::SessionBus : QDBusConnection::SystemBus, name);
}

} // namespace bus
