// The service's log lines: the journal's priority prefix or an RFC 3339 UTC
// time, one line per event whatever the text holds, and the journal told
// apart from any other stream by the device and inode systemd names.
#include "platform/logstream.h"
#include "service/servicelog.h"
#include "service/sessionlogger.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using service::FormatLogLine;
using service::TLogLevel;

namespace {

const QDateTime kAt = QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58, 7), Qt::UTC);

// "DEVICE:INODE" of an open descriptor, as systemd writes it.
QByteArray StreamId(int fd)
{
    struct stat st = {};
    EXPECT_EQ(fstat(fd, &st), 0);
    return QByteArray::number(qulonglong(st.st_dev)) + ':' + QByteArray::number(qulonglong(st.st_ino));
}

} // namespace

TEST(ServiceLog, OneLinePerEventInEitherForm)
{
    const struct {
        const char *name;
        TLogLevel level;
        QString text;
        bool journal;
        QByteArray line;
    } cases[] = {
        {"journal, info", TLogLevel::Info, "127.0.0.1 pinged in 0 msecs", true, "<6>127.0.0.1 pinged in 0 msecs\n"},
        {"journal, warning", TLogLevel::Warning, "Line down", true, "<4>Line down\n"},
        {"journal, error", TLogLevel::Error, "no host", true, "<3>no host\n"},
        {"journal, notice", TLogLevel::Notice, "Session ended", true, "<5>Session ended\n"},
        {"terminal: time first, no priority", TLogLevel::Warning, "Line down", false,
         "2024-02-29T23:59:58.007Z Line down\n"},
        {"a line break and its indent become one blank", TLogLevel::Warning,
         "run as root:\n    sysctl -w x\r\n(keep it)", true, "<4>run as root: sysctl -w x (keep it)\n"},
        {"trailing and leading breaks go", TLogLevel::Info, "\n\tone\n", true, "<6>one\n"},
        {"other controls too, C1 and the line separator", TLogLevel::Info,
         QString("a\x1b[2Jb") + QChar(0x85) + "c" + QChar(0x2028) + "d", true, "<6>a [2Jb c d\n"},
        {"UTF-8 stays", TLogLevel::Info, QString::fromUtf8("caf\xc3\xa9 \xe2\x80\xa2"), true,
         "<6>caf\xc3\xa9 \xe2\x80\xa2\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatLogLine(c.level, c.text, kAt, c.journal), c.line);
    }
    // A local time is written as the UTC moment it is.
    const QDateTime local = kAt.toOffsetFromUtc(3600 * 5 + 1800);
    EXPECT_EQ(FormatLogLine(TLogLevel::Info, "x", local, false), "2024-02-29T23:59:58.007Z x\n");
}

TEST(ServiceLog, TheJournalIsTheStreamSystemdNames)
{
    testutil::ScratchDir dir;
    const int fd = ::open(QFile::encodeName(dir.file("stream")).constData(), O_WRONLY | O_CREAT, 0600);
    const int other = ::open(QFile::encodeName(dir.file("other")).constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_GE(other, 0);
    const QByteArray id = StreamId(fd);
    const QByteArray device = id.left(id.indexOf(':')), inode = id.mid(id.indexOf(':') + 1);
    const struct {
        const char *name;
        QByteArray value;
        bool journal;
    } cases[] = {
        {"this stream", id, true},
        {"another file", StreamId(other), false},
        {"the inode of another device", QByteArray::number(device.toULongLong() + 1) + ':' + inode, false},
        {"unset", "", false},
        {"no colon", device + inode, false},
        {"signs are no numbers", device + ":+" + inode, false},
        {"blank around", device + ": " + inode, false},
        {"trailing text", id + "x", false},
        {"past 64 bits", "99999999999999999999999:1", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::IsJournalStream(fd, c.value), c.journal);
    }
    ::close(other);

    // The writer puts whole lines on the stream in the form it was given.
    const service::TServiceLog log(fd, true);
    log.Write(TLogLevel::Notice, "first");
    log.Write(TLogLevel::Info, "second\nhalf");
    ::close(fd);
    EXPECT_EQ(testutil::readFile(dir.file("stream")), "<5>first\n<6>second half\n");
}

TEST(ServiceLog, SessionEventsBecomeLinesWithTheirPriorities)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const service::TServiceLog log(fds[1], true);
    service::TSessionLogger logger(log);

    TSessionStart start;
    start.Method = 1;
    logger.SessionStarting(start);
    TStatsStart stats;
    stats.IntervalMs = 120000;
    stats.Hosts = {"a.test"};
    logger.StatsReset(stats);
    logger.HistoryLine("Sending 56 bytes to a.test");
    logger.Status("Status: Sending 56 bytes to a.test", true);   // not a line of its own
    logger.FailureLine("Error pinging a.test : Request timed out");
    TOutage outage;
    outage.ProbesLost = 3;
    outage.FirstReason = "Request timed out.";
    outage.Start.MonoNs = 1000000000;
    logger.LinkDown(outage);
    // The checks while down: a line for a verdict, none for the same again,
    // one when it changes; the check once back is information.
    diagnosis::TDiagnosisResult checked;
    for (const auto &[verdict, evidence] : std::vector<std::pair<diagnosis::TVerdict, QString>>{
             {diagnosis::TVerdict::Gateway, "The router 10.0.0.1 does not answer (no echo in 1 s)."},
             {diagnosis::TVerdict::Gateway, "The router 10.0.0.1 does not answer (no echo in 1 s)."},
             {diagnosis::TVerdict::Provider, "The router 10.0.0.1 answers in 0.5 ms; nothing past it does (hop 2 silent)."}}) {
        checked.Verdict = verdict;
        checked.Evidence = evidence;
        outage.Verdict = diagnosis::VerdictName(verdict);
        outage.Evidence = evidence;
        logger.Diagnosed(checked, outage);
    }
    checked.Verdict = diagnosis::TVerdict::Unknown;
    checked.Evidence = "Everything answers now: The router 10.0.0.1 answers in 0.4 ms.";
    logger.Diagnosed(checked, std::nullopt);
    outage.End.WallUtc = kAt;
    outage.End.MonoNs = 66500000000;   // 65.5 s: rounded, as every view rounds
    logger.LinkUp(outage);
    stats.Cycle = true;
    stats.IntervalMs = 60000;
    stats.Hosts = {"a", "b", "c"};
    logger.SessionStarting({});
    logger.StatsReset(stats);
    logger.Message("Unable to write to /x/AI_Log.txt");
    logger.SessionStopped({4, 3, 1, {}});
    // Every target each interval, over the list and over the one host.
    stats.EveryTarget = true;
    stats.IntervalMs = 15000;
    logger.StatsReset(stats);
    stats.Cycle = false;
    stats.Hosts = {"tcp://a.test:22"};
    logger.StatsReset(stats);
    ::close(fds[1]);

    QFile in;
    ASSERT_TRUE(in.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    const QStringList lines = QString::fromUtf8(in.readAll()).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines, (QStringList{
                         "<5>Session started: ICMP Pings every 2 minutes to a.test",
                         "<6>Sending 56 bytes to a.test",
                         "<4>Error pinging a.test : Request timed out",
                         "<4>Line down: 3 probes failed in a row, the first: Request timed out.",
                         "<4>Line down: your router (gateway). The router 10.0.0.1 does not answer (no echo in 1 s).",
                         "<4>Line down: your provider's network (provider). The router 10.0.0.1 answers in 0.5 ms; "
                         "nothing past it does (hop 2 silent).",
                         "<6>Line checked once back: Everything answers now: The router 10.0.0.1 answers in 0.4 ms.",
                         "<5>Line up again after 1 min 6 s down, 3 probes lost",
                         "<5>Session started: HTTP Gets every 1 minute to each server of the list in turn (3)",
                         "<4>Unable to write to /x/AI_Log.txt",
                         "<5>Session ended: 3 of 4 probes answered, 1 failed",
                         "<5>Session started: HTTP Gets to every server of the list (3), each every 15 s",
                         "<5>Session started: HTTP Gets to tcp://a.test:22, each every 15 s",
                     }));
}
