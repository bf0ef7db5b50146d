// Connections to the desktop's message buses, as the environment names them
// at the moment of use.
#pragma once

#include <QDBusConnection>
#include <QString>

namespace bus {

enum class TBusKind { Session, System };

// A connection of its own, under 'name', to the session or system bus:
// DBUS_SESSION_BUS_ADDRESS / DBUS_SYSTEM_BUS_ADDRESS when set, else the
// bus's usual place. The address is read on every call rather than left to
// the bus library, which keeps the first one it saw for the life of the
// process; a connection to a bus that went away (or was never there) is
// tried afresh each time, so a bus that appears later is found.
QDBusConnection NamedBus(TBusKind kind, const QString &name);

} // namespace bus
