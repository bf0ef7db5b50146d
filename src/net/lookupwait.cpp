#include "net/lookupwait.h"

#include "platform/errcodes.h"

#include <QEventLoop>
#include <QObject>
#include <functional>

namespace {

using Starter = std::function<unsigned(QObject *, platform::LookupDone)>;

int waitFor(const Starter &start, platform::HostEntry &entry)
{
    entry = platform::HostEntry{};
    QEventLoop loop;
    // The request's context: when this frame goes, an answer still out is
    // dropped by the resolver instead of reaching it.
    QObject context;
    bool done = false;
    int result = platform::kErrInterrupted;
    const unsigned handle = start(&context, [&](unsigned, int error,
                                                const platform::HostEntry &found) {
        done = true;
        result = error;
        entry = found;
        loop.quit();
    });
    if (handle == 0)
        return platform::kErrNoBufs;  // no worker to be had
    // exec() also returns when the application is told to quit; the answer
    // is then not waited for.
    if (!done)
        loop.exec();
    if (!done)
        platform::CancelLookup(handle);
    return result;
}

} // namespace

int LookupAddressWaiting(const platform::IpAddress &address, platform::HostEntry &entry)
{
    return waitFor(
        [&address](QObject *ctx, platform::LookupDone d) {
            return platform::AsyncLookupAddress(ctx, address, std::move(d));
        },
        entry);
}

int LookupAddrWaiting(std::uint32_t addr, platform::HostEntry &entry)
{
    return LookupAddressWaiting(platform::IpAddress::V4(addr), entry);
}

int LookupNameWaiting(const std::string &host, platform::HostEntry &entry)
{
    return waitFor(
        [&host](QObject *ctx, platform::LookupDone d) {
            return platform::AsyncLookupName(ctx, host, std::move(d));
        },
        entry);
}
