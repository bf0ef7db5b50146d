// Which network this machine is on, as a name to keep measurements under:
// the default gateway's address and hardware (MAC) address, from the
// kernel's routing and neighbour tables. Two homes with the same private
// gateway address still differ by the gateway's MAC.
#pragma once

#include <QByteArray>
#include <QString>

namespace bus {

// "gateway 192.168.1.1 (aa:bb:cc:dd:ee:ff) via wlan0" from the text of
// /proc/net/route and /proc/net/arp (pure); empty without a default route.
// The route with the lowest metric wins; a gateway not in the neighbour
// table yet is named by its address alone.
QString GatewayIdentity(const QByteArray &route, const QByteArray &arp);

// NetworkManager's primary connection, where NetworkManager runs:
// "NetworkManager Home Wi-Fi (uuid 5b0c...)"; empty when it does not run,
// has no primary connection, or does not answer within a second.
QString NetworkManagerIdentity();

// The network this machine is on now: NetworkManager's connection where it
// runs, else the default gateway (IPv4 only; "" without a default route).
QString CurrentNetworkIdentity();

} // namespace bus
