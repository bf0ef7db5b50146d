// One outage of a session, diagnosed: run inside the test network's client
// (bench/diagnosis_bench.sh), it probes HOSTS (a cycle when more than one,
// the first answering), runs FAULT (a shell command that breaks something)
// once the line is seen up, sends the next probe, and times from that probe's failure (the down
// edge, or the held run's edge in a cycle) to the verdict: stored on the
// outage in the history, or said in the session's history when only the
// target failed. Prints "verdict NAME", "ms N", "bytes N" ("-" when no
// outage was told) and "evidence TEXT"; MEND (a shell command) runs at the end.
//
//   diagnosis_once DIR FAULT MEND HOST [HOST...]
#include "config/options.h"
#include "history/historyrecorder.h"
#include "history/historystore.h"
#include "platform/appdir.h"
#include "session/antiidlesession.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

// The moments the bench times, and what the session said.
struct TWatch : TSessionObserver {
    QElapsedTimer clock;
    qint64 failedMs = -1;
    int results = 0;
    bool fault = false;
    QString targetLine;
    int bytes = -1;
    void ProbeResult(const TProbeResult &r) override
    {
        ++results;
        if (fault && !r.Success() && failedMs < 0)
            failedMs = clock.elapsed();
    }
    void HistoryLine(const QString &text) override
    {
        if (text.startsWith(QLatin1String("Only ")))
            targetLine = text;
    }
    void Diagnosed(const diagnosis::TDiagnosisResult &r, const std::optional<TOutage> &outage) override
    {
        if (outage && bytes < 0)
            bytes = r.BytesSent;
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: diagnosis_once DIR FAULT MEND HOST [HOST...]\n");
        return 2;
    }
    platform::UseDataDir(QString::fromLocal8Bit(argv[1]));
    const QStringList hosts = [&] {
        QStringList out;
        for (int i = 4; i < argc; ++i)
            out << QString::fromLocal8Bit(argv[i]);
        return out;
    }();
    config::TOptions options;
    options.AntiIdle.Frequency = QStringLiteral("60");
    options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
    options.History.DownAfter = 1;
    options.History.UpAfter = 1;
    if (hosts.size() > 1) {
        QFile list(platform::DataFile(QStringLiteral("Servers.dat")));
        if (!list.open(QIODevice::WriteOnly))
            return 2;
        list.write((hosts.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1());
        list.close();
        options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;
    } else {
        options.AntiIdle.Host = hosts.front();
    }
    history::THistoryStore store;
    if (!store.Open(history::THistoryStore::DefaultPath()))
        return 2;
    TAntiIdleSession engine(options);
    engine.Diagnosis().SetEnabled(true);
    history::THistoryRecorder recorder(engine, store);
    TWatch watch;
    watch.clock.start();
    engine.AddObserver(&watch);

    const auto waitUntil = [&](const std::function<bool()> &done, int ms) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms)
            app.processEvents(QEventLoop::AllEvents, 5);
        return done();
    };
    if (!engine.Start() || !waitUntil([&] { return watch.results >= 1; }, 15000)
        || engine.Link().Link() != TLinkMonitor::TLink::Up) {
        std::fprintf(stderr, "diagnosis_once: the line did not come up\n");
        return 1;
    }
    watch.fault = true;
    if (std::system(argv[2]) != 0)
        std::fprintf(stderr, "diagnosis_once: the fault's command failed\n");
    engine.Tick();
    QString verdict, evidence;
    qint64 verdictMs = -1;
    waitUntil([&] {
        if (!watch.targetLine.isEmpty()) {
            verdict = QStringLiteral("target");
            evidence = watch.targetLine;
        } else {
            for (const history::TOutageRow &o : store.Outages({0, 1LL << 62}))
                if (!o.Verdict.isEmpty()) {
                    verdict = o.Verdict;
                    evidence = o.Evidence;
                }
        }
        if (!verdict.isEmpty())
            verdictMs = watch.clock.elapsed();
        return !verdict.isEmpty();
    }, 15000);
    engine.Stop();
    engine.RemoveObserver(&watch);
    if (std::system(argv[3]) != 0)
        std::fprintf(stderr, "diagnosis_once: the mend's command failed\n");
    std::printf("verdict %s\n", verdict.isEmpty() ? "none" : qPrintable(verdict));
    if (verdictMs >= 0 && watch.failedMs >= 0)
        std::printf("ms %lld\n", static_cast<long long>(verdictMs - watch.failedMs));
    else
        std::printf("ms -\n");
    if (watch.bytes >= 0)
        std::printf("bytes %d\n", watch.bytes);
    else
        std::printf("bytes -\n");
    std::printf("evidence %s\n", qPrintable(evidence));
    return verdict.isEmpty() ? 1 : 0;
}
