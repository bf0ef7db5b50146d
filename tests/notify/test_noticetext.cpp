// The wording of the notices and of the cost of the keep-alive: the length
// of an outage as every view tells it, what the lost and back notices say with and without a
// cause, bytes a day by method, frequency, echo size and measured probes.
#include "notify/keepalivecost.h"
#include "notify/noticetext.h"
#include "../support/durationcases.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace notify;
using config::TAntiIdleOptions;

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// A moment 'secondsAfter' a fixed local time, on both clocks.
TStamp At(int secondsAfter)
{
    const QDateTime base(QDate(2024, 3, 5), QTime(14, 2, 0), Qt::LocalTime);
    return {base.addSecs(secondsAfter).toUTC(), (1000 + qint64(secondsAfter)) * 1000000000LL};
}

TAntiIdleOptions Options(int method, const char *frequency, bool vary = false)
{
    TAntiIdleOptions o;
    o.Method = method;
    o.Frequency = QLatin1String(frequency);
    o.Options[TAntiIdleOptions::VaryPacketSize] = vary;
    return o;
}

} // namespace

TEST(NoticeText, TheLengthOfAnOutageAsEveryViewTellsIt)
{
    for (const testsupport::DurationCase &c : testsupport::kDurationCases) {
        TOutage o;
        o.Start = At(0);
        o.End = o.Start;
        o.End.WallUtc = o.Start.WallUtc.addMSecs(c.ms);
        o.End.MonoNs += c.ms * 1000000;
        EXPECT_EQ(BackText(o).Summary, QStringLiteral("Connection back after ") + c.text) << c.ms;
    }
}

TEST(NoticeText, LostAndBack)
{
    struct Case {
        const char *name;
        QString cause, firstReason;
        int lost;
        const char *lostBody, *backBody;
        QString verdict = {}, evidence = {};
        const char *lostSummary = "Connection lost";
    };
    const Case cases[] = {
        {"with the dial-up service's reason", "the modem hung up", "Request timed out", 3,
         "The modem hung up.\n3 probes failed since 14:02: Request timed out.",
         "The modem hung up.\nDown from 14:02 to 14:06, 3 probes lost."},
        {"no reason known", "", "Connection refused.", 1,
         "1 probe failed since 14:02: Connection refused.",
         "Down from 14:02 to 14:06, 1 probe lost."},
        {"no failure text", "NetworkManager stopped", "  ", 5,
         "NetworkManager stopped.\n5 probes failed since 14:02.",
         "NetworkManager stopped.\nDown from 14:02 to 14:06, 5 probes lost."},
        {"diagnosed", "", "Request timed out", 3,
         "The router 192.168.1.1 answers in 1.2 ms; nothing past it does (hop 2 silent).\n"
         "3 probes failed since 14:02: Request timed out.",
         "Down from 14:02 to 14:06, 3 probes lost.", "provider",
         "The router 192.168.1.1 answers in 1.2 ms; nothing past it does (hop 2 silent).",
         "Connection lost: your provider's network"},
        {"diagnosed, with the dial-up service's reason", "the modem hung up", "", 2,
         "The modem hung up.\nThe dial-up line Provider is not connected.\n2 probes failed since 14:02.",
         "The modem hung up.\nDown from 14:02 to 14:06, 2 probes lost.", "link",
         "The dial-up line Provider is not connected.", "Connection lost: your own connection"},
        {"a verdict that pins nothing says nothing", "", "", 1, "1 probe failed since 14:02.",
         "Down from 14:02 to 14:06, 1 probe lost.", "unknown",
         "10.0.0.9 does not answer, and there is no other server to compare with."},
        {"a verdict word of another version", "", "", 1, "1 probe failed since 14:02.",
         "Down from 14:02 to 14:06, 1 probe lost.", "captive", "something"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TOutage o;
        o.Start = At(0);
        o.Cause = c.cause;
        o.FirstReason = c.firstReason;
        o.ProbesLost = c.lost;
        o.Verdict = c.verdict;
        o.Evidence = c.evidence;
        const TNoticeText lost = LostText(o);
        EXPECT_EQ(lost.Summary, QLatin1String(c.lostSummary));
        EXPECT_EQ(lost.Body, QLatin1String(c.lostBody));
        o.End = At(252);
        const TNoticeText back = BackText(o);
        EXPECT_EQ(back.Summary, "Connection back after 4 min 12 s");
        EXPECT_EQ(back.Body, QLatin1String(c.backBody));
    }
}

TEST(KeepAliveCost, BytesADay)
{
    struct Case {
        const char *name;
        TAntiIdleOptions options;
        TProbeBytes measured;
        std::optional<double> perDay;
    };
    const Case cases[] = {
        // 56 data bytes with 28 of headers, there and back, 1440 times.
        {"echo, not measured", Options(TAntiIdleOptions::IcmpPings, "1"), {}, 1440.0 * 168},
        {"echo, measured over IPv6", Options(TAntiIdleOptions::IcmpPings, "1"), {208, 0}, 1440.0 * 208},
        {"echo every 5 minutes", Options(TAntiIdleOptions::IcmpPings, " 5 "), {}, 288.0 * 168},
        // Sizes 56..499, 277.5 on average.
        {"varied echoes", Options(TAntiIdleOptions::IcmpPings, "1", true), {}, 1440.0 * 2 * 305.5},
        {"HTTP, not measured", Options(TAntiIdleOptions::HttpGets, "1"), {168, 0}, std::nullopt},
        {"HTTP, measured", Options(TAntiIdleOptions::HttpGets, "10"), {0, 2000}, 144.0 * 2000},
        {"alternate", Options(TAntiIdleOptions::Alternate, "1"), {200, 1800}, 1440.0 * 1000},
        {"alternate without HTTP", Options(TAntiIdleOptions::Alternate, "1"), {200, 0}, std::nullopt},
        // Out of range: the session clamps to 1..60 minutes.
        {"frequency 0", Options(TAntiIdleOptions::IcmpPings, "0"), {}, 1440.0 * 168},
        {"frequency 1000", Options(TAntiIdleOptions::IcmpPings, "1000"), {}, 24.0 * 168},
        {"no method", Options(-1, "1"), {}, 0.0},
        {"frequency no number", Options(TAntiIdleOptions::IcmpPings, "x"), {}, 0.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<double> got = BytesPerDay(c.options, c.measured);
        ASSERT_EQ(got.has_value(), c.perDay.has_value());
        if (got) {
            EXPECT_DOUBLE_EQ(*got, *c.perDay);
        }
    }
}

TEST(KeepAliveCost, Rates)
{
    const std::pair<TAntiIdleOptions, const char *> cases[] = {
        {Options(TAntiIdleOptions::IcmpPings, "1"), "one echo a minute"},
        {Options(TAntiIdleOptions::IcmpPings, "15"), "one echo every 15 minutes"},
        {Options(TAntiIdleOptions::HttpGets, "1"), "one HTTP GET a minute"},
        {Options(TAntiIdleOptions::HttpGets, "99"), "one HTTP GET every 60 minutes"},
        {Options(TAntiIdleOptions::Alternate, "2"), "one probe every 2 minutes, echoes and HTTP GETs in turn"},
    };
    for (const auto &[options, text] : cases)
        EXPECT_EQ(RateText(options), QLatin1String(text));
}

TEST(KeepAliveCost, AboutBytes)
{
    const std::pair<double, const char *> cases[] = {
        {0, "0 bytes"},          {-3, "0 bytes"},         {NAN, "0 bytes"},
        {5, "5 bytes"},          {95.4, "95 bytes"},      {999, "1.0 KB"},
        {1512, "1.5 KB"},        {241920, "240 KB"},      {99500, "100 KB"},
        {999999, "1.0 MB"},      {7257600, "7.3 MB"},     {31536000, "32 MB"},
        {4.2e9, "4.2 GB"},       {1.5e12, "1500 GB"},
    };
    for (const auto &[bytes, text] : cases)
        EXPECT_EQ(AboutBytes(bytes), QLatin1String(text)) << bytes;
}
