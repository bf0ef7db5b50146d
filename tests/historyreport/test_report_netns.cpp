// A report over a real session on the test network whose host drops echoes
// for a while (a firewall rule in its namespace): the PDF's text (pdftotext)
// and the HTML's carry the uptime, the outage's times, length and lost
// probes, equal to what the export says of the same history.
#include "config/options.h"
#include "history/historyexport.h"
#include "history/historyrecorder.h"
#include "history/historyreport.h"
#include "history/rfc3339.h"
#include "historyreport/reportfile.h"
#include "reporttest.h"
#include "../history/recordednet.h"
#include "session/antiidlesession.h"
#include "../support/netfixture.h"
#include "../support/sessionaccess.h"
#include "../support/testutil.h"

#include <QDateTime>
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

using namespace history;
using namespace historyreport;
using namespace std::chrono_literals;
using testnet::Role;

namespace {

TUs Now() { return QDateTime::currentMSecsSinceEpoch() * kUsPerMs; }

QStringList Export(THistoryStore &store, TExportKind kind)
{
    QByteArray all;
    ExportHistory(store, kind, TExportFormat::Csv, {kOpenStart, kOpenEnd}, [&](const QByteArray &piece) {
        all += piece;
        return true;
    });
    QStringList lines = QString::fromUtf8(all).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    lines.removeFirst();
    return lines;
}

// An export's RFC 3339 time as a German reader's short date and time (UTC here).
QString GermanStamp(const QString &rfc3339)
{
    return QDateTime::fromString(rfc3339, Qt::ISODateWithMs).toUTC().toString(QStringLiteral("dd.MM.yy HH:mm:ss"));
}

class ReportNet : public historytest::TRecordedNet {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        if (!reporttest::HavePoppler())
            GTEST_SKIP() << "pdftotext is missing (scripts/deps.sh test installs poppler-utils)";
        qputenv("TZ", "UTC");
        tzset();
        const config::THistoryOptions defaults;
        SetUpSession(defaults.DownAfter, defaults.UpAfter, 300);
    }
    int Answered(TUs after)
    {
        int n = 0;
        store.ReadProbes({after, kOpenEnd}, [&](const TProbeRow &p) { n += p.Ok(); return true; });
        return n;
    }
};

} // namespace

TEST_F(ReportNet, ReportOfASessionWithAnOutageSaysWhatTheExportSays)
{
    ASSERT_TRUE(engine->Start());
    Inside(engine).Timer3->setInterval(400);
    ASSERT_TRUE(testutil::waitFor([&] { return Answered(0) >= 3; }, 10s));
    ASSERT_NO_FATAL_FAILURE(Drop(true));
    testutil::pump(3s);
    ASSERT_NO_FATAL_FAILURE(Drop(false));
    const TUs back = Now();
    ASSERT_TRUE(testutil::waitFor([&] { return Answered(back) >= 3; }, 10s));
    engine->Stop();

    TReport report;
    ASSERT_TRUE(BuildReport(store, {kOpenStart, kOpenEnd}, Now(), &report));
    const QString pdf = dir.file("report.pdf"), html = dir.file("report.html");
    const QLocale german(QLocale::German, QLocale::Germany);
    QString error;
    ASSERT_TRUE(WriteReportFile(report, TReportFormat::Pdf, pdf, &error, german)) << error.toStdString();
    ASSERT_TRUE(WriteReportFile(report, TReportFormat::Html, html, &error, german)) << error.toStdString();

    // The export's figures, worked out here from its records.
    const QStringList outages = Export(store, TExportKind::Outages);
    ASSERT_EQ(outages.size(), 1);
    const QStringList o = outages[0].split(',');   // start,end,duration_s,lost_probes,...
    const qint64 seconds = std::llround(o[2].toDouble());
    const QString row = QStringLiteral("%1 %2 %3 s %4").arg(GermanStamp(o[0]), GermanStamp(o[1])).arg(seconds).arg(o[3]);
    int probes = 0, lost = 0;
    for (const QString &p : Export(store, TExportKind::Probes)) {
        ++probes;
        lost += p.section(',', 4, 4) != QLatin1String("ok");
    }
    const std::vector<TSpanRow> sessions = store.Sessions({kOpenStart, kOpenEnd});
    ASSERT_EQ(sessions.size(), 1u);
    const double watched = double(*sessions[0].End - sessions[0].Start);
    const double down = double(*ParseUserTime(o[1]) - *ParseUserTime(o[0]));
    const QString uptime = QString::number(100.0 * (watched - down) / watched, 'f', 2).replace('.', ',') + " %";

    const QStringList expected = {
        QStringLiteral("Uptime ") + uptime,
        QStringLiteral("Outages 1"),
        QStringLiteral("Lost probes %1 of %2").arg(lost).arg(probes),
        row,
    };
    for (const auto &[name, text] : {std::pair{"PDF", reporttest::PdfText(pdf)}, {"HTML", reporttest::HtmlText(html)}}) {
        for (const QString &e : expected)
            EXPECT_TRUE(reporttest::Squeezed(text).contains(reporttest::Squeezed(e)))
                << name << " lacks \"" << e.toStdString() << "\":\n" << text.toStdString();
    }
}
