#include "platform/lookupwait.h"

#include "platform/errcodes.h"

#include <QEventLoop>
#include <QObject>

int LookupWaiting(platform::TLookupRequest request, platform::HostEntry &entry)
{
    entry = platform::HostEntry{};
    QEventLoop loop;
    // The request's context: when this frame goes, an answer still out is
    // dropped by the service instead of reaching it.
    QObject context;
    bool done = false;
    int result = platform::kErrInterrupted;
    platform::TLookupService &service = platform::TLookupService::Installed();
    const unsigned handle = service.Submit(
        &context, std::move(request), [&](unsigned, int error, const platform::HostEntry &found) {
            done = true;
            result = error;
            entry = found;
            loop.quit();
        });
    if (handle == 0)
        return platform::kErrNoBufs;  // the service takes no request
    // exec() also returns when the application is told to quit; the answer
    // is then not waited for.
    if (!done)
        loop.exec();
    if (!done)
        service.Cancel(handle);
    return result;
}

int LookupAddressWaiting(const platform::IpAddress &address, platform::HostEntry &entry)
{
    return LookupWaiting(platform::TLookupRequest::ForAddress(address), entry);
}

int LookupAddrWaiting(std::uint32_t addr, platform::HostEntry &entry)
{
    return LookupAddressWaiting(platform::IpAddress::V4(addr), entry);
}

int LookupNameWaiting(const std::string &host, platform::HostEntry &entry)
{
    return LookupWaiting(platform::TLookupRequest::ForName(host, platform::FamilyChoice::IPv4Only),
                         entry);
}
