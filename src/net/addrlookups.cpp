#include "net/addrlookups.h"

#include "platform/lookupservice.h"

#include <QPointer>
#include <algorithm>

TAddrLookups::TAddrLookups(QObject *owner) : QObject(owner) {}

TAddrLookups::~TAddrLookups() { Cancel(); }

int TAddrLookups::Running() { return platform::TLookupService::Installed().Busy(); }

bool TAddrLookups::Start(std::vector<std::uint32_t> addrs, int inFlight, int limit, TDone done)
{
    Cancel();
    m_addrs = std::move(addrs);
    m_next = 0;
    m_limit = limit;
    m_inFlight = std::max(1, inFlight);
    m_done = std::move(done);
    if (!AskMore()) {
        Cancel();
        return false;
    }
    return true;
}

bool TAddrLookups::AskMore()
{
    while (m_next < int(m_addrs.size()) && m_next < m_limit && int(m_out.size()) < m_inFlight) {
        const int index = m_next++;
        const std::uint32_t addr = m_addrs[std::size_t(index)];
        // All ones is what inet_addr gives for a text that is no address:
        // there is nothing to ask about, and an empty name is answered 11001
        // without a question, in its turn with the others.
        const platform::TLookupRequest request =
            addr == 0xFFFFFFFFu
                ? platform::TLookupRequest::ForName({}, platform::FamilyChoice::IPv4Only, true)
                : platform::TLookupRequest::ForAddress(platform::IpAddress::V4(addr), true);
        const unsigned handle = platform::TLookupService::Installed().Submit(
            this, request, [this, index](unsigned h, int error, const platform::HostEntry &entry) {
                Answered(h, index, error, entry.name);
            });
        if (handle == 0)
            return false;
        m_out.insert(handle);
    }
    return true;
}

void TAddrLookups::Answered(unsigned handle, int index, int error, const std::string &name)
{
    if (m_out.erase(handle) == 0)
        return;   // an answer of a run cancelled meanwhile
    QPointer<TAddrLookups> self(this);
    if (TDone done = m_done)
        done(index, error, name);
    // The owner may have cancelled, started again or destroyed the run.
    if (self)
        AskMore();
}

void TAddrLookups::Allow(int limit)
{
    if (limit > m_limit) {
        m_limit = limit;
        AskMore();
    }
}

void TAddrLookups::Cancel()
{
    for (unsigned handle : m_out)
        platform::TLookupService::Installed().Cancel(handle);
    m_out.clear();
    m_addrs.clear();
    m_next = 0;
    m_limit = 0;
    m_done = nullptr;
}
