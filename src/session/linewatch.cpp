#include "session/linewatch.h"

bool OtherTraffic(const platform::TLineCounters &before, const platform::TLineCounters &now, quint64 ownTx,
                  quint64 ownRx)
{
    if (before.Interface != now.Interface || now.TxPackets < before.TxPackets || now.RxPackets < before.RxPackets)
        return false;
    return now.TxPackets - before.TxPackets > ownTx && now.RxPackets - before.RxPackets > ownRx;
}

TLineWatch::TLineWatch()
    : Read([](const QString &target) -> std::optional<platform::TLineCounters> {
          const QString interface = platform::RouteInterface(target);
          return interface.isEmpty() ? std::nullopt : platform::InterfaceCounters(interface);
      })
{
}

void TLineWatch::Mark(const QString &target)
{
    if (const auto now = Read(target))
        marks_[now->Interface] = *now;
}

bool TLineWatch::Busy(const QString &target, quint64 ownTail) const
{
    const auto now = Read(target);
    if (!now)
        return false;
    const auto it = marks_.find(now->Interface);
    return it != marks_.end() && OtherTraffic(it->second, *now, ownTail, ownTail);
}
