#include "net/addrlookups.h"

#include "platform/errcodes.h"
#include "platform/resolver.h"

#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {
std::atomic<int> gRunning{0};
}

struct TAddrLookups::TRun {
    std::mutex lock;                  // guards everything below
    std::condition_variable more;     // the limit rose, or the run was cancelled
    std::vector<std::uint32_t> addrs;
    int next = 0;                     // next index to ask for
    int limit = 0;                    // no index at or past this is asked yet
    bool cancelled = false;
    TAddrLookups *owner = nullptr;    // answers go to its thread while not cancelled
    TDone done;
};

TAddrLookups::TAddrLookups(QObject *owner) : QObject(owner) {}

TAddrLookups::~TAddrLookups() { Cancel(); }

int TAddrLookups::Running() { return gRunning.load(); }

bool TAddrLookups::Start(std::vector<std::uint32_t> addrs, int threads, int limit, TDone done)
{
    Cancel();
    auto run = std::make_shared<TRun>();
    run->addrs = std::move(addrs);
    run->limit = limit;
    run->owner = this;
    run->done = std::move(done);
    m_run = run;

    const auto work = [run] {
        std::unique_lock<std::mutex> lk(run->lock);
        for (;;) {
            run->more.wait(lk, [&] {
                return run->cancelled || run->next >= int(run->addrs.size())
                    || run->next < run->limit;
            });
            if (run->cancelled || run->next >= int(run->addrs.size()))
                break;
            // Taken in order under the lock, asked the moment it is let go.
            const int index = run->next++;
            const std::uint32_t addr = run->addrs[std::size_t(index)];
            lk.unlock();
            platform::HostEntry entry;
            // All ones is what inet_addr gives for a text that is no
            // address: there is nothing to ask about.
            const int error = addr == 0xFFFFFFFFu ? int(platform::kErrHostNotFound)
                                                  : platform::LookupAddr(addr, entry);
            lk.lock();
            if (run->cancelled)
                break;
            // Posted under the lock: Cancel (from the owner's destructor among
            // others) takes it first, so nothing reaches an owner that is gone,
            // and a post already made goes with the owner's pending events.
            QMetaObject::invokeMethod(
                run->owner,
                [run, index, error, name = entry.name] {
                    if (run->owner->m_run != run)
                        return;   // an answer of a run cancelled meanwhile
                    if (TDone done = run->done)
                        done(index, error, name);
                },
                Qt::QueuedConnection);
        }
        --gRunning;
    };

    const int count = std::max(1, std::min(threads, int(run->addrs.size())));
    int started = 0;
    for (int i = 0; i < count; ++i) {
        ++gRunning;
        try {
            std::thread(work).detach();
            ++started;
        } catch (const std::system_error &) {
            --gRunning;
            break;   // fewer threads: the run is slower, not wrong
        }
    }
    if (started == 0) {
        Cancel();
        return false;
    }
    return true;
}

void TAddrLookups::Allow(int limit)
{
    if (!m_run)
        return;
    std::lock_guard<std::mutex> g(m_run->lock);
    if (limit > m_run->limit) {
        m_run->limit = limit;
        m_run->more.notify_all();
    }
}

void TAddrLookups::Cancel()
{
    if (!m_run)
        return;
    {
        std::lock_guard<std::mutex> g(m_run->lock);
        m_run->cancelled = true;
        m_run->more.notify_all();
    }
    m_run.reset();
}
