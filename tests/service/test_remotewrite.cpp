// Remote write without a receiver: the exposition read back as series, the
// settings' labels and credentials, a request's body as the protocol has
// it, the waiting samples kept in their file across a reopen, and what each
// answer means for them. The shipped rules pass promtool's checks and its
// unit tests (idlix-rules*.test.yml).
#include "service/remotequeue.h"
#include "service/remotesender.h"
#include "service/remotewrite.h"
#include "service/remotewriter.h"
#include "service/serviceargs.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <cmath>
#include "testpaths.h"

using namespace service;

namespace {

TLabels L(std::initializer_list<std::pair<std::string, std::string>> labels)
{
    return TLabels(labels);
}

} // namespace

TEST(RemoteWrite, ExpositionReadBackAsSeries)
{
    const QByteArray text = "# HELP idlix_link_up Whether.\n"
                            "# TYPE idlix_link_up gauge\n"
                            "idlix_link_up 1\n"
                            "idlix_probes_total{target=\"a \\\"b\\\"\\\\c\\nd\",outcome=\"ok\"} 12\n"
                            "idlix_x_bucket{le=\"+Inf\",site=\"own\"} +Inf\n"
                            "idlix_nan NaN\n"
                            "broken{a=\"unterminated} 1\n"
                            "novalue{a=\"b\"} seven\n"
                            "9starts_with_digit 1\n";
    const auto values = ParseExposition(text, L({{"instance", "kiosk"}, {"site", "shop"}}));
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].Labels, L({{"__name__", "idlix_link_up"}, {"instance", "kiosk"}, {"site", "shop"}}));
    EXPECT_EQ(values[0].Value, 1);
    EXPECT_EQ(values[1].Labels, L({{"__name__", "idlix_probes_total"}, {"instance", "kiosk"}, {"outcome", "ok"},
                                   {"site", "shop"}, {"target", "a \"b\"\\c\nd"}}));
    EXPECT_EQ(values[1].Value, 12);
    // A label of the text keeps its value over the added one.
    EXPECT_EQ(values[2].Labels[3], (std::pair<std::string, std::string>{"site", "own"}));
    EXPECT_TRUE(std::isinf(values[2].Value));
    EXPECT_TRUE(std::isnan(values[3].Value));
}

TEST(RemoteWrite, ExtraLabelsAndCredentials)
{
    testutil::ScratchDir dir;
    QFile token(dir.file("token"));
    ASSERT_TRUE(token.open(QIODevice::WriteOnly));
    token.write("s3cret \nsecond line\n");
    token.close();
    const struct {
        QString labels, auth;
        TLabels want;
        QString bearer, user, password;
        QString error;   // a part of it
    } cases[] = {
        {"site=shop, line = mobile ", "", L({{"line", "mobile"}, {"site", "shop"}}), "", "", "", ""},
        {"", "bearer " + dir.file("token"), {}, "s3cret", "", "", ""},
        {"", "Basic kiosk " + dir.file("token"), {}, "", "kiosk", "s3cret", ""},
        {"site", "", {}, "", "", "", "'site' is not a label"},
        {"__name__=x", "", {}, "", "", "", "not starting with a digit or two underscores"},
        {"1a=x", "", {}, "", "", "", "'1a=x' is not a label"},
        {"a=1,a=2", "", {}, "", "", "", "given twice"},
        {"instance=x", "", {}, "", "", "", "set by the service"},
        {"", "token " + dir.file("token"), {}, "", "", "", "must be \"bearer FILE\""},
        {"", "bearer " + dir.file("none"), {}, "", "", "", "Cannot read the remote-write token"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.labels + " / " + c.auth).toStdString());
        TRemoteWriteSettings s;
        QString error;
        const bool ok = MakeRemoteWriteSettings("http://127.0.0.1:9/api/v1/write", c.auth, "kiosk-1", c.labels, &s, &error);
        EXPECT_EQ(ok, c.error.isEmpty()) << error.toStdString();
        if (!ok) {
            EXPECT_TRUE(error.contains(c.error)) << error.toStdString();
            continue;
        }
        TLabels want = c.want;
        want.emplace_back("instance", "kiosk-1");
        want.emplace_back("job", "idlix");
        EXPECT_EQ(s.Labels, want);
        EXPECT_EQ(s.Auth.Bearer, c.bearer);
        EXPECT_EQ(s.Auth.User, c.user);
        EXPECT_EQ(s.Auth.Password, c.password);
    }
    for (const char *url : {"ftp://x/write", "127.0.0.1:9090", "http:///write"}) {
        TRemoteWriteSettings s;
        QString error;
        EXPECT_FALSE(MakeRemoteWriteSettings(url, "", "", "", &s, &error)) << url;
        EXPECT_TRUE(error.contains("not an http:// or https:// URL")) << error.toStdString();
    }
    EXPECT_EQ(RemoteWriteOption(config::ParseCommandLine({"--remote-write", " https://r/w"}, "headless")),
              QString("https://r/w"));
    EXPECT_EQ(RemoteWriteOption(config::ParseCommandLine({"--remote-write=OFF"}, "headless")), QString(""));
    EXPECT_EQ(RemoteWriteOption(config::ParseCommandLine({}, "headless")), std::nullopt);
}

TEST(RemoteWrite, RequestBodyIsSnappyFramedProtobuf)
{
    const std::vector<TTimeSeries> series = {
        {L({{"__name__", "idlix_link_up"}, {"instance", "kiosk"}}), {{1700000000000, 1}, {1700000001000, 0}}},
        {L({{"__name__", "idlix_outages_total"}}), {{1700000001000, 3.5}}},
    };
    const QByteArray body = EncodeWriteRequest(series);
    // snappy's block format: the plain length as a varint, then a literal
    // (tag's low bits 00) whose first byte opens field 1 (timeseries),
    // length-delimited.
    int at = 0;
    quint32 plain = 0;
    for (int shift = 0; at < body.size(); shift += 7) {
        plain |= quint32(quint8(body[at]) & 0x7f) << shift;
        if (!(quint8(body[at++]) & 0x80))
            break;
    }
    EXPECT_EQ(plain, 128u);
    ASSERT_GT(body.size(), at + 1);
    EXPECT_EQ(quint8(body[at]) & 3, 0);
    EXPECT_EQ(quint8(body[at + 1]), 0x0a) << body.toHex().toStdString();
    std::vector<TTimeSeries> back;
    QString error;
    ASSERT_TRUE(DecodeWriteRequest(body, &back, &error)) << error.toStdString();
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].Labels, series[0].Labels);
    ASSERT_EQ(back[0].Samples.size(), 2u);
    EXPECT_EQ(back[0].Samples[1].AtMs, 1700000001000);
    EXPECT_EQ(back[1].Samples[0].Value, 3.5);
    EXPECT_FALSE(DecodeWriteRequest("not snappy at all", &back, &error));
}

TEST(RemoteWrite, WaitingSamplesOutliveTheProcessAndLeaveOnlyWhenTaken)
{
    testutil::ScratchDir dir;
    const QString path = dir.file("remotewrite.db");
    const TLabels up = L({{"__name__", "up"}}), down = L({{"__name__", "down"}});
    {
        TRemoteQueue queue(path);
        ASSERT_TRUE(queue.Problem().isEmpty()) << queue.Problem().toStdString();
        for (int i = 0; i < 5; ++i)
            ASSERT_TRUE(queue.Append(1000 * (i + 1), {{up, double(i)}, {down, i == 2 ? NAN : -i}}));
        queue.SetState("last", 42);
        EXPECT_EQ(queue.Pending(), 10);
    }
    TRemoteQueue queue(path);
    EXPECT_EQ(queue.Pending(), 10);
    EXPECT_EQ(queue.State("last"), 42);
    // Oldest first, each series' samples in time order, cut at the limit.
    TRemoteQueue::TBatch batch = queue.Oldest(5);
    ASSERT_EQ(batch.Samples, 5);
    ASSERT_EQ(batch.Series.size(), 2u);
    EXPECT_EQ(batch.Series[0].Labels, up);
    ASSERT_EQ(batch.Series[0].Samples.size(), 3u);
    EXPECT_EQ(batch.Series[0].Samples[2].AtMs, 3000);
    EXPECT_EQ(batch.Series[1].Samples.size(), 2u);
    // Reading is not taking.
    EXPECT_EQ(queue.Oldest(5).LastSeq, batch.LastSeq);
    ASSERT_TRUE(queue.Remove(batch.LastSeq));
    EXPECT_EQ(queue.Pending(), 5);
    batch = queue.Oldest(100);
    EXPECT_EQ(batch.Series[0].Samples.front().AtMs, 3000);
    EXPECT_TRUE(std::isnan(batch.Series[0].Labels == down ? batch.Series[0].Samples[0].Value
                                                          : batch.Series[1].Samples[0].Value));
    // Older than kept: let go.
    EXPECT_EQ(queue.Prune(5000), 3);
    EXPECT_EQ(queue.Pending(), 2);
    EXPECT_EQ(queue.Oldest(100).Series[0].Samples[0].AtMs, 5000);

    // A file that cannot be opened: kept in memory, and said so.
    TRemoteQueue nowhere(dir.file("missing/folder/remotewrite.db"));
    EXPECT_TRUE(nowhere.Problem().contains("kept in memory only")) << nowhere.Problem().toStdString();
    EXPECT_TRUE(nowhere.Append(1, {{up, 1}}));
    EXPECT_EQ(nowhere.Pending(), 1);
}

TEST(RemoteWrite, AnswersAndTheWaitsBetweenTries)
{
    const struct {
        int status;
        TReply reply;
    } replies[] = {
        {200, TReply::Delivered}, {204, TReply::Delivered}, {0, TReply::Retry},   {500, TReply::Retry},
        {503, TReply::Retry},     {429, TReply::Retry},     {400, TReply::Drop},  {401, TReply::Drop},
        {404, TReply::Drop},      {413, TReply::Drop},      {301, TReply::Drop},
    };
    for (const auto &r : replies)
        EXPECT_EQ(ClassifyReply(r.status), r.reply) << r.status;

    TBackoff backoff(500, 15000);
    std::vector<int> waits;
    for (int i = 0; i < 7; ++i)
        waits.push_back(backoff.Next());
    EXPECT_EQ(waits, (std::vector<int>{500, 1000, 2000, 4000, 8000, 15000, 15000}));
    backoff.Reset();
    EXPECT_EQ(backoff.Next(3), 3000);     // Retry-After, seconds
    EXPECT_EQ(backoff.Next(600), 15000);  // never past the longest wait
    EXPECT_EQ(backoff.Next(0), 15000);
}

TEST(RemoteWrite, ShippedRulesPassPromtool)
{
    const QString promtool = QStandardPaths::findExecutable("promtool");
    if (promtool.isEmpty())
        GTEST_SKIP() << "promtool (package prometheus) is not installed";
    const QString here = QStringLiteral(IDLIX_SOURCE_DIR "/tests/service/");
    for (const QStringList &args :
         {QStringList{"check", "rules", IDLIX_SOURCE_DIR "/packaging/prometheus/idlix-rules.yml"},
          QStringList{"test", "rules", here + "idlix-rules.test.yml", here + "idlix-rules-week.test.yml"}}) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(promtool, args);
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << args.join(' ').toStdString() << "\n" << p.readAll().toStdString();
    }
}
