// Ownership of an echo component by a window feature: made with its settings,
// and freed with its events unbound first, so a lookup that the component
// cancels on its way out (~TPing reports 10004) calls back into no one.
#pragma once

#include "net/ping.h"

#include <QString>
#include <memory>

struct TPingUnbindDeleter {
    void operator()(TPing *ping) const;
};

using TPingOwner = std::unique_ptr<TPing, TPingUnbindDeleter>;

// A parentless echo component named 'name' with the given time-out (ms),
// data size (bytes) and TTL; the caller binds the events it handles.
TPingOwner MakePing(const QString &name, int timeoutMs, int size, int ttl = 64);
