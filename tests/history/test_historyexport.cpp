// The export's bytes: the CSV and NDJSON of probes and outages written out
// in full, the same bytes under a locale whose decimal point is a comma,
// and a sink that stops taking reported as a failure.
#include "historytest.h"

#include "history/rfc3339.h"
#include "../support/commalocale.h"
#include "../support/testutil.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace history;
using historytest::Probe;

namespace {

constexpr TUs kSec = 1000000;
constexpr TUs kT0 = 1714550400LL * kSec;   // 2024-05-01T08:00:00Z

QByteArray Export(THistoryStore &store, TExportKind kind, TExportFormat format)
{
    QByteArray all;
    EXPECT_TRUE(ExportHistory(store, kind, format, {0, 1LL << 62}, [&](const QByteArray &piece) {
        all += piece;
        return true;
    }));
    return all;
}

// A history with the cases an export must write right: a lost probe, text
// that needs quoting or escaping, an HTTP transfer, an outage that ended and
// one still open, a duration with a fraction of a second.
void Fill(THistoryStore &store)
{
    const qint64 s = store.BeginSession(kT0, 60000, 2, true);
    // An echo timed to the microsecond; the transfer below only to the ms.
    TProbeRow echo = Probe(kT0 + 250000, "a.test", 12);
    echo.Us = 12345;
    store.AddProbe(echo, s);
    TProbeRow lost = Probe(kT0 + 60 * kSec, "b.test", -1);
    lost.Address.clear();
    lost.Outcome = TProbeOutcome::LookupFailed;
    lost.Reason = "Unknown Host";
    store.AddProbe(lost, s);
    TProbeRow http = Probe(kT0 + 120 * kSec + 7000, "web.test:8080", 1234);
    http.Kind = session::TProbeKind::HttpGet;
    http.Address = "fd00:200:3::10";
    http.BytesSent = 61;
    http.BytesReceived = 20512;
    store.AddProbe(http, s);
    TProbeRow odd = Probe(kT0 + 180 * kSec, "x", -1);
    odd.Outcome = TProbeOutcome::HttpError;
    odd.Reason = "Transfer said \"no\",\tthen\nstopped";
    store.AddProbe(odd, s);

    TOutageRow done;
    done.Start = kT0 + 60 * kSec;
    done.End = kT0 + 312 * kSec + 310000;
    done.DurationMs = 252310;
    done.ProbesLost = 4;
    done.FirstOutcome = TProbeOutcome::LookupFailed;
    done.FirstReason = "Unknown Host";
    done.Hosts = "b.test x";
    done.Cause = "the modem hung up";
    done.EndedBy = "up";
    // The diagnosis comes while the outage runs; its end brings none.
    const qint64 id = store.OpenOutage(done, s);
    store.SetOutageVerdict(id, "provider", "The router 10.0.0.1 answers in 0.8 ms; nothing past it does (hop 2 silent).");
    store.SetOutageRoute(id, R"([ {"hop": 1, "address": "10.0.0.1", "name": "gw.test", "ms": 0.8},
                                  {"hop": 2, "address": null, "name": null, "ms": null} ])");
    store.CloseOutage(id, done);
    TOutageRow open;
    open.Start = kT0 + 400 * kSec;
    open.ProbesLost = 3;
    open.FirstOutcome = TProbeOutcome::Timeout;
    open.FirstReason = "Request timed out";
    open.Hosts = "a.test";
    open.Verdict = "dns";
    open.Evidence = "The name service does not answer for a.test, \"x\" (no answer in 1.5 s).";
    // A route somebody edited into something else is no route.
    open.Route = "{\"hop\": 1}";
    store.OpenOutage(open, s);
}

const QByteArray kProbesCsv =
    "time,host,address,method,outcome,ms,bytes_sent,bytes_received,reason\r\n"
    "2024-05-01T08:00:00.250Z,a.test,127.0.0.1,echo,ok,12.345,84,84,\r\n"
    "2024-05-01T08:01:00.000Z,b.test,,echo,lookup-failed,,84,0,Unknown Host\r\n"
    "2024-05-01T08:02:00.007Z,web.test:8080,fd00:200:3::10,http,ok,1234.000,61,20512,\r\n"
    "2024-05-01T08:03:00.000Z,x,127.0.0.1,echo,http-error,,84,0,\"Transfer said \"\"no\"\",\tthen\nstopped\"\r\n";

const QByteArray kOutagesCsv =
    "start,end,duration_s,lost_probes,first_outcome,reason,hosts,cause,ended_by,verdict,evidence\r\n"
    "2024-05-01T08:01:00.000Z,2024-05-01T08:05:12.310Z,252.310,4,lookup-failed,Unknown Host,b.test x,"
    "the modem hung up,up,provider,The router 10.0.0.1 answers in 0.8 ms; nothing past it does (hop 2 silent).\r\n"
    "2024-05-01T08:06:40.000Z,,,3,timeout,Request timed out,a.test,,,dns,"
    "\"The name service does not answer for a.test, \"\"x\"\" (no answer in 1.5 s).\"\r\n";

const QByteArray kProbesJson =
    "{\"time\":\"2024-05-01T08:00:00.250Z\",\"host\":\"a.test\",\"address\":\"127.0.0.1\",\"method\":\"echo\","
    "\"outcome\":\"ok\",\"ms\":12.345,\"bytes_sent\":84,\"bytes_received\":84,\"reason\":null}\n"
    "{\"time\":\"2024-05-01T08:01:00.000Z\",\"host\":\"b.test\",\"address\":\"\",\"method\":\"echo\","
    "\"outcome\":\"lookup-failed\",\"ms\":null,\"bytes_sent\":84,\"bytes_received\":0,\"reason\":\"Unknown Host\"}\n"
    "{\"time\":\"2024-05-01T08:02:00.007Z\",\"host\":\"web.test:8080\",\"address\":\"fd00:200:3::10\","
    "\"method\":\"http\",\"outcome\":\"ok\",\"ms\":1234.000,\"bytes_sent\":61,\"bytes_received\":20512,\"reason\":null}\n"
    "{\"time\":\"2024-05-01T08:03:00.000Z\",\"host\":\"x\",\"address\":\"127.0.0.1\",\"method\":\"echo\","
    "\"outcome\":\"http-error\",\"ms\":null,\"bytes_sent\":84,\"bytes_received\":0,"
    "\"reason\":\"Transfer said \\\"no\\\",\\tthen\\nstopped\"}\n";

const QByteArray kOutagesJson =
    "{\"start\":\"2024-05-01T08:01:00.000Z\",\"end\":\"2024-05-01T08:05:12.310Z\",\"duration_s\":252.310,"
    "\"lost_probes\":4,\"first_outcome\":\"lookup-failed\",\"reason\":\"Unknown Host\",\"hosts\":[\"b.test\",\"x\"],"
    "\"cause\":\"the modem hung up\",\"ended_by\":\"up\",\"verdict\":\"provider\","
    "\"evidence\":\"The router 10.0.0.1 answers in 0.8 ms; nothing past it does (hop 2 silent).\","
    "\"route\":[{\"address\":\"10.0.0.1\",\"hop\":1,\"ms\":0.8,\"name\":\"gw.test\"},"
    "{\"address\":null,\"hop\":2,\"ms\":null,\"name\":null}]}\n"
    "{\"start\":\"2024-05-01T08:06:40.000Z\",\"end\":null,\"duration_s\":null,\"lost_probes\":3,"
    "\"first_outcome\":\"timeout\",\"reason\":\"Request timed out\",\"hosts\":[\"a.test\"],\"cause\":null,"
    "\"ended_by\":null,\"verdict\":\"dns\",\"evidence\":\"The name service does not answer for a.test, \\\"x\\\" "
    "(no answer in 1.5 s).\",\"route\":null}\n";

} // namespace

TEST(HistoryExport, BytesOfEachKindAndFormatInEveryLocale)
{
    testutil::ScratchDir dir;
    THistoryStore store;
    ASSERT_TRUE(store.Open(dir.file("history.db")));
    Fill(store);
    struct Case {
        TExportKind kind;
        TExportFormat format;
        const QByteArray &want;
    };
    const std::vector<Case> cases = {
        {TExportKind::Probes, TExportFormat::Csv, kProbesCsv},
        {TExportKind::Outages, TExportFormat::Csv, kOutagesCsv},
        {TExportKind::Probes, TExportFormat::Ndjson, kProbesJson},
        {TExportKind::Outages, TExportFormat::Ndjson, kOutagesJson},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Export(store, c.kind, c.format).toStdString(), c.want.toStdString());

    // Under a locale that writes decimals with a comma, in the C library and
    // in Qt, the bytes stay the same.
    testsupport::CommaLocale comma;
    if (!comma.reason().empty())
        GTEST_SKIP() << comma.reason();
    testsupport::CommaLocale::Use use(comma);
    ASSERT_TRUE(use.ok()) << "the C library did not take the comma locale";
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_EQ(QLocale().decimalPoint(), ",");
    for (const Case &c : cases)
        EXPECT_EQ(Export(store, c.kind, c.format).toStdString(), c.want.toStdString());
    QLocale::setDefault(before);
}

TEST(HistoryExport, ABigExportComesInPiecesAndASinkThatStopsIsAFailure)
{
    testutil::ScratchDir dir;
    THistoryStore store;
    ASSERT_TRUE(store.Open(dir.file("history.db")));
    {
        THistoryStore::TBatch batch(store);
        const qint64 s = store.BeginSession(kT0, 60000, 1, false);
        for (int i = 0; i < 5000; ++i)
            store.AddProbe(Probe(kT0 + i * 60 * kSec, "a.test", i % 300), s);
    }
    std::vector<qsizetype> pieces;
    qint64 count = 0;
    ASSERT_TRUE(ExportHistory(store, TExportKind::Probes, TExportFormat::Csv, {0, 1LL << 62},
                              [&](const QByteArray &p) { pieces.push_back(p.size()); return true; }, nullptr,
                              &count));
    EXPECT_EQ(count, 5000);
    ASSERT_GT(pieces.size(), 3u);
    for (size_t i = 0; i + 1 < pieces.size(); ++i)
        EXPECT_LT(pieces[i], 80 * 1024) << "piece " << i;

    int calls = 0;
    QString error;
    EXPECT_FALSE(ExportHistory(store, TExportKind::Probes, TExportFormat::Csv, {0, 1LL << 62},
                               [&](const QByteArray &) { return ++calls < 2; }, &error, &count));
    EXPECT_EQ(calls, 2) << "nothing more is offered once the sink refused";
    EXPECT_FALSE(error.isEmpty());
    EXPECT_LT(count, 5000);
}
