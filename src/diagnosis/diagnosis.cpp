#include "diagnosis/diagnosis.h"

#include "diagnosis/ladder.h"
#include "platform/lookupservice.h"
#include "platform/monoclock.h"

#include <system_error>
#include <thread>

namespace diagnosis {

TDiagnosis::TDiagnosis(QObject *parent) : QObject(parent) {}

TDiagnosis::~TDiagnosis() { Abandon(); }

bool TDiagnosis::Start(TDiagnosisRequest request)
{
    if (m_run)
        return false;
    auto run = std::make_shared<TRun>();
    run->Request = std::move(request);
    run->StartNs = platform::MonoNowNs();
    if (!run->Request.LocalOnly)
        for (const std::string &host : ProbedNames(run->Request))
            run->Names.push_back(TRun::TName{host});
    // The lookups go first, so that the resolver works while the echoes do;
    // their answers come back on this thread and are handed to the worker.
    for (std::size_t i = 0; i < run->Names.size(); ++i) {
        const auto done = [run, i](unsigned, int error, const platform::HostEntry &) {
            std::lock_guard<std::mutex> g(run->Lock);
            run->Names[i].Done = true;
            run->Names[i].Error = error;
            run->Names[i].Handle = 0;
            run->Changed.notify_all();
        };
        run->Names[i].Handle = platform::Lookups().Submit(
            this, platform::TLookupRequest::ForName(run->Names[i].Host, platform::FamilyChoice::Automatic), done);
    }
    try {
        std::thread([this, run] {
            const TDiagnosisResult result = RunLadder(*run);
            // Under the lock: the owner marks the run closed under it before
            // it goes, so 'this' is alive whenever the run is still open.
            std::lock_guard<std::mutex> g(run->Lock);
            if (!run->Closed)
                QMetaObject::invokeMethod(this, [this, run, result] { Finish(run, result); }, Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error &) {
        m_run = run;
        Abandon();
        return false;
    }
    m_run = run;
    return true;
}

void TDiagnosis::Finish(const std::shared_ptr<TRun> &run, const TDiagnosisResult &result)
{
    if (run != m_run)
        return;
    Abandon();
    if (OnDone)
        OnDone(result);
}

void TDiagnosis::Abandon()
{
    if (!m_run)
        return;
    std::vector<unsigned> pending;
    {
        std::lock_guard<std::mutex> g(m_run->Lock);
        m_run->Closed = true;
        for (const TRun::TName &n : m_run->Names)
            if (n.Handle)
                pending.push_back(n.Handle);
        m_run->Changed.notify_all();
    }
    // A lookup still with the resolver has nobody to tell any more.
    for (unsigned handle : pending)
        platform::Lookups().Cancel(handle);
    m_run.reset();
}

} // namespace diagnosis
