#include "net/pingowner.h"

void TPingUnbindDeleter::operator()(TPing *ping) const
{
    ping->OnDisplay = nullptr;
    ping->OnEchoRequest = nullptr;
    ping->OnEchoReply = nullptr;
    ping->OnDnsLookupDone = nullptr;
    delete ping;
}

TPingOwner MakePing(const QString &name, int timeoutMs, int size, int ttl)
{
    TPingOwner ping(new TPing);
    ping->setObjectName(name);
    ping->SetTimeout(timeoutMs);
    ping->SetTTL(ttl);
    ping->SetSize(size);
    return ping;
}
