// The packet counters of the line a host is reached over: the interface the
// kernel's route to that address leaves by (asked over netlink, as
// `ip route get` does) and its link statistics (as `ip -s link` shows them,
// the same as /sys/class/net/IF/statistics).
#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace platform {

struct TLineCounters {
    QString Interface;
    quint64 RxPackets = 0;
    quint64 TxPackets = 0;
};

// The interface the route to 'target' (an IPv4 or IPv6 address's text; a
// zone is ignored) leaves by; empty (and *error set) when it is no address,
// the kernel has no route or cannot be asked. Answers within the
// netlink socket's 1 s time-out.
QString RouteInterface(const QString &target, QString *error = nullptr);

// The counters of 'interface' now; nothing when there is no such interface
// in the calling thread's network namespace.
std::optional<TLineCounters> InterfaceCounters(const QString &interface);

} // namespace platform
