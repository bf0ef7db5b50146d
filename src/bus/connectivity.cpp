#include "bus/connectivity.h"

#include <QAtomicInteger>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace bus {

TConnectivity NetworkManagerConnectivity()
{
    // A connection of this call's own: the program's named connections are
    // the GUI thread's, and this is asked from a diagnosis' worker.
    static QAtomicInteger<int> serial;
    const QString name = QStringLiteral("idlix-connectivity-%1").arg(serial.fetchAndAddRelaxed(1));
    const QString address = qEnvironmentVariable("DBUS_SYSTEM_BUS_ADDRESS");
    TConnectivity out = TConnectivity::Unknown;
    {
        QDBusConnection bus = address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SystemBus, name)
                                                : QDBusConnection::connectToBus(address, name);
        if (bus.isConnected()) {
            QDBusMessage get = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("/org/freedesktop/NetworkManager"),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
            get.setArguments({QStringLiteral("org.freedesktop.NetworkManager"), QStringLiteral("Connectivity")});
            const QDBusMessage reply = bus.call(get, QDBus::Block, 1000);
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
                bool ok = false;
                const uint value = reply.arguments().front().value<QDBusVariant>().variant().toUInt(&ok);
                if (ok && value <= uint(TConnectivity::Full))
                    out = TConnectivity(value);
            }
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return out;
}

} // namespace bus
