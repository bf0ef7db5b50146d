#include "bus/netidentity.h"

#include "bus/dbusbus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <QList>

#include <limits>

namespace bus {

namespace {

// The kernel's tables are small; this bounds what is read of them.
constexpr qint64 kTableBytes = 256 * 1024;

QByteArray ReadTable(const char *path)
{
    QFile f(QString::fromLatin1(path));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.read(kTableBytes);
}

QList<QByteArray> Fields(const QByteArray &line)
{
    return line.simplified().split(' ');
}

} // namespace

QString GatewayIdentity(const QByteArray &route, const QByteArray &arp)
{
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ... (hex, host order)
    QByteArray iface, gateway;
    long long best = std::numeric_limits<long long>::max();
    const QList<QByteArray> lines = route.split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> f = Fields(lines[i]);
        if (f.size() < 8 || f[1] != "00000000" || f[7] != "00000000")
            continue;
        bool ok = false;
        const long long metric = f[6].toLongLong(&ok);
        if (!ok || metric >= best || f[2].size() != 8)
            continue;
        best = metric;
        iface = f[0];
        gateway = f[2];
    }
    if (gateway.isEmpty())
        return {};
    bool ok = false;
    const quint32 g = gateway.toUInt(&ok, 16);
    if (!ok)
        return {};
    // /proc/net/route shows the address as the kernel holds it (network
    // order read as a little-endian number).
    const QString address = QStringLiteral("%1.%2.%3.%4").arg(g & 0xff).arg((g >> 8) & 0xff).arg((g >> 16) & 0xff).arg(g >> 24);
    QString mac;
    // IP address HW type Flags HW address Mask Device
    for (const QByteArray &line : arp.split('\n')) {
        const QList<QByteArray> f = Fields(line);
        if (f.size() >= 6 && f[0] == address.toLatin1() && f[5] == iface && f[3] != "00:00:00:00:00:00")
            mac = QString::fromLatin1(f[3]);
    }
    QString text = QStringLiteral("gateway %1").arg(address);
    if (!mac.isEmpty())
        text += QStringLiteral(" (%1)").arg(mac);
    return text + QStringLiteral(" via %1").arg(QString::fromLatin1(iface));
}

namespace {

// A property of NetworkManager's on the system bus, or an invalid variant.
QVariant NmProperty(const QString &path, const QString &interface, const QString &name)
{
    QDBusConnection bus = NamedBus(TBusKind::System, QStringLiteral("idlix-netid"));
    if (!bus.isConnected())
        return {};
    QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.NetworkManager"), path,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get.setArguments({interface, name});
    const QDBusMessage reply = bus.call(get, QDBus::Block, 1000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().front().value<QDBusVariant>().variant();
}

} // namespace

QString NetworkManagerIdentity()
{
    const QString primary = NmProperty(QStringLiteral("/org/freedesktop/NetworkManager"),
                                       QStringLiteral("org.freedesktop.NetworkManager"),
                                       QStringLiteral("PrimaryConnection"))
                                .value<QDBusObjectPath>()
                                .path();
    if (primary.isEmpty() || primary == QLatin1String("/"))
        return {};
    const QString active = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
    // Bounded: both are shown as plain text in the history.
    const QString uuid = NmProperty(primary, active, QStringLiteral("Uuid")).toString().left(64);
    if (uuid.isEmpty())
        return {};
    const QString name = NmProperty(primary, active, QStringLiteral("Id")).toString().left(128).simplified();
    return name.isEmpty() ? QStringLiteral("NetworkManager connection %1").arg(uuid)
                          : QStringLiteral("NetworkManager %1 (uuid %2)").arg(name, uuid);
}

QString CurrentNetworkIdentity()
{
    if (QString nm = NetworkManagerIdentity(); !nm.isEmpty())
        return nm;
    return GatewayIdentity(ReadTable("/proc/net/route"), ReadTable("/proc/net/arp"));
}

} // namespace bus
