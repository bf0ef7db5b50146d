// The program's one pool of lookup threads, its queue and its handle table.
#include "platform/lookupservice.h"
#include "platform/errcodes.h"

#include <QMetaObject>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

TLookupRequest TLookupRequest::ForName(std::string host, FamilyChoice family, bool ordered)
{
    TLookupRequest r;
    r.Kind = Forward;
    r.Host = std::move(host);
    r.Family = family;
    r.Ordered = ordered;
    return r;
}

TLookupRequest TLookupRequest::ForAddress(const IpAddress &address, bool ordered)
{
    TLookupRequest r;
    r.Kind = TKind::Reverse;
    r.Address = address;
    r.Ordered = ordered;
    return r;
}

int ResolveOnThisThread(const TLookupRequest &request, HostEntry &entry)
{
    return request.Kind == TLookupRequest::Reverse
        ? ResolveAddress(request.Address, entry)
        : ResolveName(request.Host, request.Family, entry);
}

namespace {

// What a Wait blocks for.
struct TWaiter {
    bool done = false;
    int error = kErrInterrupted;
    HostEntry entry;
};

// A request from Submit or Wait until it is answered, cancelled or its
// context goes.
struct TJob {
    TLookupRequest request;
    QObject *context = nullptr;          // Submit: where done runs
    LookupDone done;
    QMetaObject::Connection guard;       // forgets the job when the context dies
    std::shared_ptr<TWaiter> waiter;     // Wait: the blocked caller
    bool started = false;                // on a thread (out of the queue)
    bool answered = false;               // ordered: the answer is in, held back
    int error = 0;                       // ordered: the answer held back
    HostEntry entry;
};

} // namespace

// Shared with the pool's threads and with the answers posted to contexts, so
// neither outlives what it uses.
struct TLookupState {
    mutable std::mutex lock;                // guards everything below
    std::condition_variable work;           // a request was queued, or stopping
    std::condition_variable answered;       // a Wait's answer came, or stopping
    std::deque<unsigned> queue;             // not yet on a thread, first asked first
    std::map<unsigned, TJob> jobs;          // every pending request, queued or started
    std::map<QObject *, std::deque<unsigned>> order;  // a context's ordered handles, as asked
    std::vector<std::thread> threads;
    int maxThreads = TLookupService::kMaxThreads;
    int idle = 0;                           // threads waiting for work
    int busy = 0;                           // threads with a question out
    int mostBusy = 0;
    bool stopping = false;
    unsigned next = 0;
    std::function<void(unsigned)> startHook;
    std::atomic<FamilyChoice> runFamily{FamilyChoice::Automatic};   // read without the lock

    unsigned NewHandle()
    {
        do {
            ++next;
        } while (next == 0 || jobs.count(next));
        return next;
    }
    // Puts a job in the queue and makes sure a thread will take it: an idle
    // one, or a new one while the bound allows. False when there is no
    // thread at all and none could be made (the job is then removed).
    bool Enqueue(const std::shared_ptr<TLookupState> &self, unsigned handle);
    // Removes a pending job; false when it is not pending.
    bool Forget(unsigned handle, QMetaObject::Connection *guard);
    // A thread's answer, under the lock.
    void Answer(const std::shared_ptr<TLookupState> &self, unsigned handle, int error, HostEntry entry);
};

namespace {

void runThread(const std::shared_ptr<TLookupState> &s);

// Hands on the answers of a context's ordered requests that are next in
// line, one at a time, re-reading the table after each callback (it may
// cancel, ask again or destroy the context).
void deliverInOrder(const std::shared_ptr<TLookupState> &s, QObject *context)
{
    for (;;) {
        unsigned handle = 0;
        TJob job;
        {
            std::lock_guard<std::mutex> g(s->lock);
            auto o = s->order.find(context);
            if (o == s->order.end())
                return;
            auto it = s->jobs.find(o->second.front());
            if (it == s->jobs.end() || !it->second.answered)
                return;
            handle = it->first;
            job = std::move(it->second);
            s->jobs.erase(it);
            o->second.pop_front();
            if (o->second.empty())
                s->order.erase(o);
        }
        QObject::disconnect(job.guard);
        if (job.done)
            job.done(handle, job.error, job.entry);
    }
}

// Runs on the context's thread.
void deliver(const std::shared_ptr<TLookupState> &s, unsigned handle, int error,
             const HostEntry &entry)
{
    TJob job;
    bool ordered = false;
    {
        std::lock_guard<std::mutex> g(s->lock);
        auto it = s->jobs.find(handle);
        if (it == s->jobs.end())
            return;   // cancelled after the post
        ordered = it->second.request.Ordered;
        if (ordered) {
            it->second.answered = true;
            it->second.error = error;
            it->second.entry = entry;
            job.context = it->second.context;
        } else {
            job = std::move(it->second);
            s->jobs.erase(it);
        }
    }
    if (ordered) {
        deliverInOrder(s, job.context);
        return;
    }
    QObject::disconnect(job.guard);
    if (job.done)
        job.done(handle, error, entry);
}

} // namespace

bool TLookupState::Enqueue(const std::shared_ptr<TLookupState> &self, unsigned handle)
{
    queue.push_back(handle);
    if (int(queue.size()) > idle && int(threads.size()) < maxThreads) {
        try {
            threads.emplace_back([self] { runThread(self); });
        } catch (const std::system_error &) {
            if (threads.empty()) {
                // No thread to be had: the request never starts.
                queue.pop_back();
                return false;
            }
            // Fewer threads: the queue drains more slowly, no less surely.
        }
    }
    work.notify_one();
    return true;
}

bool TLookupState::Forget(unsigned handle, QMetaObject::Connection *guard)
{
    auto it = jobs.find(handle);
    if (it == jobs.end())
        return false;
    TJob &job = it->second;
    if (!job.started) {
        if (auto q = std::find(queue.begin(), queue.end(), handle); q != queue.end())
            queue.erase(q);
    }
    if (job.request.Ordered) {
        auto o = order.find(job.context);
        if (o != order.end()) {
            auto &handles = o->second;
            if (auto h = std::find(handles.begin(), handles.end(), handle); h != handles.end())
                handles.erase(h);
            if (handles.empty())
                order.erase(o);
        }
    }
    if (guard)
        *guard = job.guard;
    jobs.erase(it);
    return true;
}

void TLookupState::Answer(const std::shared_ptr<TLookupState> &self, unsigned handle,
                                    int error, HostEntry entry)
{
    auto it = jobs.find(handle);
    if (it == jobs.end())
        return;   // cancelled, its context gone, or shut down
    TJob &job = it->second;
    if (job.waiter) {
        job.waiter->done = true;
        job.waiter->error = error;
        job.waiter->entry = std::move(entry);
        jobs.erase(it);
        answered.notify_all();
        return;
    }
    // Posted under the lock: the context's end takes the job out under the
    // same lock first, so nothing is posted to an object that is going, and
    // a post already made goes with the object's pending events.
    QMetaObject::invokeMethod(
        job.context,
        [self, handle, error, entry = std::move(entry)] { deliver(self, handle, error, entry); },
        Qt::QueuedConnection);
}

namespace {

void runThread(const std::shared_ptr<TLookupState> &s)
{
    std::unique_lock<std::mutex> lk(s->lock);
    for (;;) {
        ++s->idle;
        s->work.wait(lk, [&] { return s->stopping || !s->queue.empty(); });
        --s->idle;
        if (s->stopping)
            return;
        const unsigned handle = s->queue.front();
        s->queue.pop_front();
        auto it = s->jobs.find(handle);
        if (it == s->jobs.end())
            continue;
        it->second.started = true;
        const TLookupRequest request = it->second.request;
        const auto hook = s->startHook;
        s->mostBusy = std::max(s->mostBusy, ++s->busy);
        lk.unlock();
        if (hook)
            hook(handle);
        HostEntry entry;
        const int error = ResolveOnThisThread(request, entry);
        lk.lock();
        --s->busy;
        s->Answer(s, handle, error, std::move(entry));
    }
}

TLookupService *gInstalled = nullptr;

} // namespace

TLookupService::TLookupService(int maxThreads) : m_state(std::make_shared<TLookupState>())
{
    m_state->maxThreads = std::clamp(maxThreads, 1, kMaxThreads);
}

TLookupService::~TLookupService() { Shutdown(); }

unsigned TLookupService::Submit(QObject *context, TLookupRequest request, LookupDone done)
{
    if (!context)
        return 0;
    const std::shared_ptr<TLookupState> &s = m_state;
    unsigned handle;
    {
        std::lock_guard<std::mutex> g(s->lock);
        if (s->stopping)
            return 0;
        handle = s->NewHandle();
        TJob &job = s->jobs[handle];
        job.context = context;
        job.done = std::move(done);
        if (request.Ordered)
            s->order[context].push_back(handle);
        job.request = std::move(request);
        // Runs on the context's thread inside ~QObject, before its posted
        // events are discarded.
        job.guard = QObject::connect(context, &QObject::destroyed, [w = std::weak_ptr<TLookupState>(s), handle] {
            if (auto st = w.lock()) {
                std::lock_guard<std::mutex> g2(st->lock);
                st->Forget(handle, nullptr);
            }
        });
        if (!s->Enqueue(s, handle)) {
            QMetaObject::Connection guard;
            s->Forget(handle, &guard);
            QObject::disconnect(guard);
            return 0;
        }
    }
    return handle;
}

int TLookupService::Wait(TLookupRequest request, HostEntry &entry)
{
    entry = HostEntry{};
    const std::shared_ptr<TLookupState> &s = m_state;
    auto waiter = std::make_shared<TWaiter>();
    std::unique_lock<std::mutex> lk(s->lock);
    if (s->stopping)
        return kErrInterrupted;
    const unsigned handle = s->NewHandle();
    TJob &job = s->jobs[handle];
    job.request = std::move(request);
    job.request.Ordered = false;
    job.waiter = waiter;
    if (!s->Enqueue(s, handle)) {
        s->jobs.erase(handle);
        return kErrNoBufs;
    }
    s->answered.wait(lk, [&] { return waiter->done; });
    entry = std::move(waiter->entry);
    return waiter->error;
}

int TLookupService::Cancel(unsigned handle)
{
    const std::shared_ptr<TLookupState> &s = m_state;
    QMetaObject::Connection guard;
    QObject *context = nullptr;
    {
        std::lock_guard<std::mutex> g(s->lock);
        auto it = s->jobs.find(handle);
        if (it == s->jobs.end() || it->second.waiter)
            return kErrInvalid;
        if (it->second.request.Ordered)
            context = it->second.context;
        s->Forget(handle, &guard);
        // Answers held back behind this one may now go: from the event loop,
        // never inside this call.
        if (context && s->order.count(context))
            QMetaObject::invokeMethod(
                context, [s, context] { deliverInOrder(s, context); }, Qt::QueuedConnection);
    }
    QObject::disconnect(guard);
    return 0;
}

void TLookupService::Shutdown()
{
    const std::shared_ptr<TLookupState> &s = m_state;
    std::vector<std::thread> threads;
    std::vector<QMetaObject::Connection> guards;
    {
        std::lock_guard<std::mutex> g(s->lock);
        s->stopping = true;
        s->queue.clear();
        for (auto &[handle, job] : s->jobs) {
            if (job.waiter)
                job.waiter->done = true;   // with kErrInterrupted
            else
                guards.push_back(job.guard);
        }
        s->jobs.clear();
        s->order.clear();
        threads.swap(s->threads);
        s->work.notify_all();
        s->answered.notify_all();
    }
    for (auto &guard : guards)
        QObject::disconnect(guard);
    for (std::thread &t : threads)
        t.join();
}

void TLookupService::SetRunFamily(FamilyChoice choice) { m_state->runFamily.store(choice); }

FamilyChoice TLookupService::RunFamily() const { return m_state->runFamily.load(); }

int TLookupService::Threads() const
{
    std::lock_guard<std::mutex> g(m_state->lock);
    return int(m_state->threads.size());
}

int TLookupService::Busy() const
{
    std::lock_guard<std::mutex> g(m_state->lock);
    return m_state->busy;
}

int TLookupService::MostBusy() const
{
    std::lock_guard<std::mutex> g(m_state->lock);
    return m_state->mostBusy;
}

int TLookupService::Queued() const
{
    std::lock_guard<std::mutex> g(m_state->lock);
    return int(m_state->queue.size());
}

void TLookupService::SetStartHook(std::function<void(unsigned)> hook)
{
    std::lock_guard<std::mutex> g(m_state->lock);
    m_state->startHook = std::move(hook);
}

TLookupService &TLookupService::Installed()
{
    if (gInstalled)
        return *gInstalled;
    // Made on first use, joined when the process exits.
    static TLookupService own;
    return own;
}

TLookupService::TInstall::TInstall(TLookupService &service) : m_previous(gInstalled)
{
    gInstalled = &service;
}

TLookupService::TInstall::~TInstall() { gInstalled = m_previous; }

} // namespace platform
