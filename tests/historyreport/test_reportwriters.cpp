// The report's PDF and HTML as a reader gets them: the texts and numbers in
// the reader's locale, a range with nothing recorded said in words, the
// diagnosis's columns only when outages carry one, the paper by the locale,
// the charts drawn as vectors, and an HTML page that needs nothing else.
#include "history/historyreport.h"
#include "historyreport/reportdoc.h"
#include "historyreport/reportfile.h"
#include "platform/durationtext.h"
#include "reporttest.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QFile>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

#include <ctime>

using namespace history;
using namespace historyreport;
using namespace reporttest;

namespace {

constexpr TUs kSec = 1000000;
constexpr TUs kT0 = 1777622400LL * kSec;   // 2026-05-01T08:00:00Z

// A report of three days with one outage of 90.6 s, made without a store.
TReport Sample()
{
    TReport r;
    r.Period = r.Requested = {kT0, kT0 + 3 * 86400 * kSec};
    r.Made = r.Period.To;
    r.Empty = false;
    r.Up.Monitored = 3 * 86400 * kSec;
    r.Up.Down = 90600 * 1000;
    r.Up.Outages = 1;
    r.Probes = 4320;
    r.Lost = 9;
    r.LongestMs = 90600;
    r.Days = {};
    for (const TLocalDay &d : LocalDays(r.Period)) {
        TReportDay day{d, d.To - d.From, 0, 1440, 0, 21.5, 48};
        r.Days.push_back(day);
    }
    r.Days[1].Down = r.Up.Down;
    r.Days[1].Lost = 9;
    TReportOutage o;
    o.Row.Start = kT0 + 86400 * kSec + 3723 * kSec;
    o.Row.End = o.Row.Start + 90600 * 1000;
    o.Row.DurationMs = 90600;
    o.Row.ProbesLost = 9;
    o.Row.FirstReason = "Request timed out";
    o.LengthMs = 90600;
    r.Outages = {o};
    r.Settings = {{kT0, 20000, 1, false}};
    return r;
}

struct TWritten {
    QString pdf, html;
};

TWritten Write(const testutil::ScratchDir &dir, const TReport &r, const QLocale &locale)
{
    TWritten w{dir.file("report.pdf"), dir.file("report.html")};
    QString error;
    EXPECT_TRUE(WriteReportFile(r, TReportFormat::Pdf, w.pdf, &error, locale)) << error.toStdString();
    EXPECT_TRUE(WriteReportFile(r, TReportFormat::Html, w.html, &error, locale)) << error.toStdString();
    return w;
}

class ReportWriters : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HavePoppler())
            GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
        qputenv("TZ", "UTC");
        tzset();
    }
    testutil::ScratchDir dir;
};

} // namespace

TEST(ReportTexts, LengthsRoundToTheNearestSecond)
{
    const std::pair<qint64, const char *> cases[] = {
        {0, "0 s"},          {499, "0 s"},         {500, "1 s"},
        {90600, "1 min 31 s"}, {3612000, "1 h 0 min 12 s"}, {3660400, "1 h 1 min"},
        {86399600, "1 d"},   {90061000, "1 d 1 h 1 min 1 s"},
    };
    for (const auto &[ms, text] : cases)
        EXPECT_EQ(platform::FullDurationText(ms), QString::fromLatin1(text)) << ms;
}

TEST_F(ReportWriters, FiguresInTheReadersLocaleInBothFiles)
{
    struct {
        const char *locale;
        QStringList expected;
        const char *paper;
    } const cases[] = {
        {"de_DE", {"99,97 %", "02.05.26 09:02:03", "1 min 31 s", "9 of 4.320"}, "(A4)"},
        {"en_US", {"99.97 %", "5/2/26 9:02:03", "1 min 31 s", "9 of 4,320"}, "(letter)"},
    };
    for (const auto &c : cases) {
        const TWritten w = Write(dir, Sample(), QLocale(QString::fromLatin1(c.locale)));
        const QString pdf = PdfText(w.pdf), html = HtmlText(w.html);
        for (const QString &e : c.expected) {
            EXPECT_TRUE(Squeezed(pdf).contains(Squeezed(e)))
                << c.locale << ": " << e.toStdString() << " not in the PDF:\n" << pdf.toStdString();
            EXPECT_TRUE(html.contains(e)) << c.locale << ": " << e.toStdString() << " not in the HTML";
        }
        EXPECT_TRUE(Poppler("pdfinfo", {w.pdf}).contains(QString::fromLatin1(c.paper))) << c.locale;
    }
}

TEST_F(ReportWriters, NothingRecordedIsSaidNotDividedBy)
{
    TReport r;
    r.Period = r.Requested = {kT0, kT0 + 2 * 86400 * kSec};
    r.Made = r.Period.To;
    for (const TLocalDay &d : LocalDays(r.Period)) {
        TReportDay day;
        day.Day = d;
        r.Days.push_back(day);
    }
    const TWritten w = Write(dir, r, QLocale(QLocale::English, QLocale::UnitedKingdom));
    for (const QString &text : {PdfText(w.pdf), HtmlText(w.html)}) {
        EXPECT_TRUE(text.contains("Nothing was recorded in this period")) << text.toStdString();
        EXPECT_TRUE(text.contains("Uptime not known (nothing was watched)"));
        EXPECT_TRUE(text.contains("No outage in this period."));
        EXPECT_TRUE(text.contains("No probe in this period."));
        static const QRegularExpression notANumber("\\b(nan|inf)\\b", QRegularExpression::CaseInsensitiveOption);
        EXPECT_FALSE(text.contains(notANumber)) << text.toStdString();
    }
}

TEST_F(ReportWriters, DiagnosisColumnsOnlyWhenOutagesCarryOne)
{
    TReport plain = Sample();
    TReport diagnosed = Sample();
    diagnosed.Outages[0].Verdict = "provider";
    diagnosed.Outages[0].Evidence = "gateway answered, hop 3 silent";
    diagnosed.Outages[0].Route = {"192.168.1.1", "10.0.0.1", "*"};
    struct {
        const TReport *report;
        QStringList present, absent;
    } const cases[] = {
        {&plain, {"Reason", "Request timed out"}, {"Verdict", "Evidence", "Route at the start"}},
        {&diagnosed,
         {"Verdict", "Evidence", "provider", "gateway answered, hop 3 silent",
          "Route at the start: 192.168.1.1 > 10.0.0.1 > *"},
         {"Request timed out"}},
    };
    for (const auto &c : cases) {
        const TWritten w = Write(dir, *c.report, QLocale::c());
        for (const QString &text : {PdfText(w.pdf), HtmlText(w.html)}) {
            for (const QString &p : c.present)
                EXPECT_TRUE(text.contains(p)) << p.toStdString() << " missing";
            for (const QString &a : c.absent)
                EXPECT_FALSE(text.contains(a)) << a.toStdString() << " shown";
        }
    }
}

TEST_F(ReportWriters, HtmlStandsAloneAndChartsAreVectors)
{
    TReport r = Sample();
    r.Outages[0].Row.FirstReason = "<script>alert(1)</script> & \"quoted\"";
    const TWritten w = Write(dir, r, QLocale::c());
    QFile f(w.html);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray html = f.readAll();
    // Nothing runs and nothing is fetched: no script, no link, no source elsewhere.
    for (const char *word : {"<script", "src=", "href=", "url(", "@import", "<link", "<img"})
        EXPECT_FALSE(html.contains(word)) << word;
    EXPECT_EQ(html.count("<svg "), 3);
    // Well-formed throughout, the hostile reason as text.
    QXmlStreamReader xml(html);
    while (!xml.atEnd())
        xml.readNext();
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString() << " at line " << xml.lineNumber();
    EXPECT_TRUE(HtmlText(w.html).contains("<script>alert(1)</script> & \"quoted\""));
    // The PDF holds no picture: its charts are paths.
    const QStringList images = Poppler("pdfimages", {"-list", w.pdf}).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(images.size(), 2) << "only the heading lines of pdfimages -list";
}
