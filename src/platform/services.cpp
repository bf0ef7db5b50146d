#include "platform/services.h"

#include <atomic>
#include <cstdio>

namespace platform {

namespace {
// The one instance for code that has no owner to ask; see services.h.
TServices defaultServices;
std::atomic<TServices *> inUse{&defaultServices};
} // namespace

bool TServices::FirstTime(const QString &key)
{
    std::lock_guard<std::mutex> g(lock_);
    if (told_.contains(key))
        return false;
    told_.insert(key);
    return true;
}

void TServices::TellOnce(const QString &key, const QString &notice)
{
    if (!FirstTime(QStringLiteral("notice\n") + key))
        return;
    if (Notice)
        Notice(notice);
    else
        std::fprintf(stderr, "idlix: %s\n", qPrintable(notice));
}

TServices &Services()
{
    return *inUse.load();
}

TServicesInUse::TServicesInUse(TServices &services) : previous_(inUse.exchange(&services)) {}

TServicesInUse::~TServicesInUse()
{
    inUse.store(previous_);
}

} // namespace platform
