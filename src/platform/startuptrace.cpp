#include "platform/startuptrace.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <ctime>

namespace platform {
namespace {

std::int64_t WallNowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct TTrace {
    bool on = false;
    std::int64_t originNs = 0;
};

const TTrace &Trace()
{
    static const TTrace trace = [] {
        TTrace t;
        const QByteArray value = qgetenv("IDLIX_STARTUP_TRACE");
        t.on = !value.isEmpty();
        bool number = false;
        const qlonglong launch = value.toLongLong(&number);
        // A launch time in the future or more than a minute ago is not one.
        const std::int64_t now = WallNowNs();
        t.originNs = number && launch <= now && now - launch < 60LL * 1000000000 ? launch : now;
        return t;
    }();
    return trace;
}

} // namespace

void StartupMark(const char *what)
{
    const TTrace &t = Trace();
    if (!t.on)
        return;
    std::fprintf(stderr, "idlix start-up: %8.1f ms  %s\n", double(WallNowNs() - t.originNs) / 1e6,
                 what);
    std::fflush(stderr);
}

} // namespace platform
