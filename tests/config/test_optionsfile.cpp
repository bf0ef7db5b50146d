// idlix2.ini read into the option values and written back from them, without
// a window. This binary links no Qt Widgets.
#include "config/optionsfile.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QDir>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

QString Write(const testutil::ScratchDir &dir, const QByteArray &text)
{
    const QString path = dir.file("idlix2.ini");
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
    return path;
}

QStringList Lines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
}

} // namespace

TEST(OptionsFile, ValuesAsTheFileGivesThem)
{
    testutil::ScratchDir dir;
    const struct {
        const char *name;
        QByteArray text;
        std::function<void(const config::TOptions &)> check;
    } cases[] = {
        {"no file at all", "", [](const config::TOptions &o) {
             EXPECT_EQ(o.AntiIdle.Method, 0);
             EXPECT_EQ(o.AntiIdle.Frequency, "1");
             EXPECT_EQ(o.Latency.TimeOut, 5);
             EXPECT_EQ(o.Latency.Interval, 500);
             EXPECT_EQ(o.Ping.Bytes, 56);
             EXPECT_TRUE(o.Trace.TestPacket);
             EXPECT_EQ(o.DialUp.Connection, 0);
             EXPECT_EQ(o.DialUp.DisconnectTime, 60);
             EXPECT_TRUE(o.General.StayOnTop);
             EXPECT_EQ(o.Window.Scale, config::TWindowOptions::Automatic);
             EXPECT_EQ(o.History.DownAfter, 3);
             EXPECT_EQ(o.History.UpAfter, 2);
             EXPECT_EQ(o.History.KeepDays, 365);
             EXPECT_TRUE(o.Notify.Enabled);
             EXPECT_FALSE(o.Notify.PauseOnMetered);
             EXPECT_EQ(o.Network.AddressFamily, config::TNetworkOptions::Automatic);
             EXPECT_TRUE(o.Service.MetricsAddress.isEmpty());
             EXPECT_EQ(o.Service.RemoteWriteKeepHours, 72);
             EXPECT_EQ(o.Service.RemoteWriteInterval, 60);
         }},
        {"out of range numbers are clamped as the panels would",
         "[Ping Options]\nBytes=70000\nTime-out=0\n[Latency Test]\nInterval=0x30000\n"
         "[Dial-Up Options]\nDisconnect Time=-5\n[History]\nDownAfter=0\nKeepDays=99999\n",
         [](const config::TOptions &o) {
             EXPECT_EQ(o.Ping.Bytes, 65535);
             EXPECT_EQ(o.Ping.TimeOut, 1);
             EXPECT_EQ(o.Latency.Interval, 100000);
             EXPECT_EQ(o.DialUp.DisconnectTime, 1);
             EXPECT_EQ(o.History.DownAfter, 1);
             EXPECT_EQ(o.History.KeepDays, 3650);
         }},
        {"radio items clamp, the connection is kept as stored",
         "[Anti-Idle Options]\nMethod=5\n[Traceroute Options]\nMode=-7\n[Dial-Up Options]\nConnection=999\n",
         [](const config::TOptions &o) {
             EXPECT_EQ(o.AntiIdle.Method, 2);
             EXPECT_EQ(o.Trace.Mode, -1);
             EXPECT_EQ(o.DialUp.Connection, 999);
         }},
        {"frequency kept as typed, empty means 1, junk is left for the session",
         "[Anti-Idle Options]\nFrequecy=\n", [](const config::TOptions &o) {
             EXPECT_EQ(o.AntiIdle.Frequency, "1");
         }},
        {"frequency junk", "[anti-idle options]\nfrequecy=5x\n", [](const config::TOptions &o) {
             EXPECT_EQ(o.AntiIdle.Frequency, "5x");
         }},
        {"not a number gives the default", "[Ping Options]\nBytes=lots\n",
         [](const config::TOptions &o) { EXPECT_EQ(o.Ping.Bytes, 56); }},
        {"preferences", "[Window]\nScale=150\n[Network]\nAddressFamily=ipv6\n"
                        "[Notifications]\nEnabled=0\nPauseOnMetered=1\n"
                        "[Service]\nMetricsAddress= 127.0.0.1:9417 \n",
         [](const config::TOptions &o) {
             EXPECT_EQ(o.Window.Scale, 150);
             EXPECT_EQ(o.Network.AddressFamily, config::TNetworkOptions::IPv6Only);
             EXPECT_FALSE(o.Notify.Enabled);
             EXPECT_TRUE(o.Notify.PauseOnMetered);
             EXPECT_EQ(o.Service.MetricsAddress, "127.0.0.1:9417");
         }},
        {"remote write", "[Service]\nRemoteWrite= https://r/w \nRemoteWriteAuth=bearer /etc/t\nNode=kiosk\n"
                         "Labels=site=shop\nRemoteWriteKeepHours=99999\nRemoteWriteInterval=0\n",
         [](const config::TOptions &o) {
             EXPECT_EQ(o.Service.RemoteWrite, "https://r/w");
             EXPECT_EQ(o.Service.RemoteWriteAuth, "bearer /etc/t");
             EXPECT_EQ(o.Service.Node, "kiosk");
             EXPECT_EQ(o.Service.Labels, "site=shop");
             EXPECT_EQ(o.Service.RemoteWriteKeepHours, 24 * 90);   // clamped to the range
             EXPECT_EQ(o.Service.RemoteWriteInterval, 1);
         }},
        {"unknown preference texts fall back to automatic", "[Window]\nScale=175\n[Network]\nAddressFamily=ipx\n",
         [](const config::TOptions &o) {
             EXPECT_EQ(o.Window.Scale, config::TWindowOptions::Automatic);
             EXPECT_EQ(o.Network.AddressFamily, config::TNetworkOptions::Automatic);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(dir.file("idlix2.ini"));
        const QString path = c.text.isEmpty() ? dir.file("idlix2.ini") : Write(dir, c.text);
        config::TOptions o;
        config::LoadOptions(path, o);
        c.check(o);
    }
}

TEST(OptionsFile, OptionDigitsOnlyEverCheck)
{
    testutil::ScratchDir dir;
    const struct { const char *value; std::array<bool, 4> before, after; } cases[] = {
        {"31", {false, false, false, false}, {false, true, false, true}},
        {"x", {false, false, false, false}, {false, false, false, false}},
        // An item whose digit is missing keeps its state.
        {"", {true, false, true, false}, {true, false, true, false}},
        {"0123", {false, false, false, false}, {true, true, true, true}},
    };
    for (const auto &c : cases) {
        const QString path = Write(dir, QByteArray("[Anti-Idle Options]\nOptions=") + c.value + "\n");
        config::TOptions o;
        o.AntiIdle.Options = c.before;
        config::LoadOptions(path, o);
        EXPECT_EQ(o.AntiIdle.Options, c.after) << c.value;
    }
}

TEST(OptionsFile, FirstSaveLaysOutTheSectionsAndPreferencesStayApart)
{
    testutil::ScratchDir dir;
    const QString path = dir.file("idlix2.ini");
    config::TOptions o;
    o.AntiIdle.Options = {false, true, false, true};
    o.Ping.Bytes = 70000;            // typed past the field: stored as the most it takes
    o.DialUp.Connection = 7;
    o.Proxy.Server = "proxy.test";   // never stored
    o.Window.Scale = 200;
    QString error;
    ASSERT_TRUE(config::SaveOptions(path, o, &error)) << error.toStdString();
    const QStringList first = Lines(path);
    EXPECT_EQ(first, (QStringList{
        "[Anti-Idle Options]", "Method=0", "Frequecy=1", "Host=", "Options=13",
        "[Latency Test]", "Host=", "Time-out=5", "Interval=500",
        "[Ping Options]", "Bytes=65535", "Time-out=5",
        "[Traceroute Options]", "Bytes=56", "Time-out=5", "Test Packet=1", "Mode=0",
        "[Dial-Up Options]", "Connection=7", "Username=", "Password=",
        "Connect On Start=0", "Start AI=0", "Disconnect=0", "Disconnect Time=60",
        "[General]", "Stay on Top=1"}));

    ASSERT_TRUE(config::SavePreferences(path, o, &error));
    const QStringList both = Lines(path);
    ASSERT_GT(both.size(), first.size());
    EXPECT_EQ(both.mid(0, first.size()), first);
    EXPECT_EQ(both.mid(first.size()), (QStringList{
        "[Window]", "Scale=200", "[History]", "DownAfter=3", "UpAfter=2", "KeepDays=365",
        "[Notifications]", "Enabled=1", "PauseOnMetered=0", "[Network]", "AddressFamily=auto",
        "[Service]", "MetricsAddress=", "RemoteWrite=", "Node=", "Labels=", "[KeepAlive]", "IntervalFrom=setting", "SkipWhenBusy=0",
        "[Probe All]", "Enabled=0", "Interval=60",
        "[Diagnosis]", "CheckUrl=", "CheckExpect=", "Anchors="}));

    // What was saved comes back.
    config::TOptions back;
    config::LoadOptions(path, back);
    EXPECT_EQ(back.AntiIdle.Options, o.AntiIdle.Options);
    EXPECT_EQ(back.DialUp.Connection, 7);
    EXPECT_EQ(back.Window.Scale, 200);
    EXPECT_TRUE(back.Proxy.Server.isEmpty());
}

TEST(OptionsFile, EveryTargetEachIntervalIsReadAsWrittenForTheStartToJudge)
{
    testutil::ScratchDir dir;
    const struct {
        const char *name;
        QByteArray text;
        bool enabled;
        int interval;
        int serviceProbeAll, serviceInterval;   // -1 / 0: not set
    } cases[] = {
        {"nothing set", "", false, 60, -1, 0},
        {"the window's section", "[Probe All]\nEnabled=1\nInterval=15\n", true, 15, -1, 0},
        {"too short is kept, not clamped", "[Probe All]\nEnabled=1\nInterval=2\n", true, 2, -1, 0},
        {"no number reads as -1", "[Probe All]\nEnabled=1\nInterval=15s\n", true, -1, -1, 0},
        {"an empty interval is the default", "[Probe All]\nInterval=\n", false, 60, -1, 0},
        {"the service's keys", "[Service]\nProbeAll=1\nProbeAllInterval=30\n", false, 60, 1, 30},
        {"the service's keys off", "[Service]\nProbeAll=0\nProbeAllInterval= \n", false, 60, 0, 0},
        {"the service's interval no number", "[Service]\nProbeAllInterval=fast\n", false, 60, -1, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        config::TOptions o;
        config::LoadOptions(Write(dir, c.text), o);
        EXPECT_EQ(o.ProbeAll.Enabled, c.enabled);
        EXPECT_EQ(o.ProbeAll.Interval, c.interval);
        EXPECT_EQ(o.Service.ProbeAll, c.serviceProbeAll);
        EXPECT_EQ(o.Service.ProbeAllInterval, c.serviceInterval);
    }
    // The preferences keep the window's section through a save.
    config::TOptions o;
    o.ProbeAll = {true, 45};
    const QString path = dir.file("saved.ini");
    ASSERT_TRUE(config::SavePreferences(path, o, nullptr));
    config::TOptions back;
    config::LoadOptions(path, back);
    EXPECT_TRUE(back.ProbeAll.Enabled);
    EXPECT_EQ(back.ProbeAll.Interval, 45);
}

TEST(OptionsFile, ARefusedWriteSaysWhere)
{
    testutil::ScratchDir dir;
    // A folder that is not there refuses every write, whoever writes.
    const QString path = dir.file("gone/idlix2.ini");
    QString error;
    EXPECT_FALSE(config::SaveOptions(path, config::TOptions(), &error));
    EXPECT_EQ(error, "Unable to write to " + path);
    error.clear();
    EXPECT_FALSE(config::SavePreferences(path, config::TOptions(), &error));
    EXPECT_EQ(error, "Unable to write to " + path);
}

namespace {

// The probe's save of path run under strace with 'options': what it traced
// (one line per call), where the saves began, and how it ended.
struct TTracedSave {
    bool killed = false;
    int code = -1;
    QStringList calls;
    qsizetype saving = -1;   // the index of the "saving" marker in calls
};

TTracedSave TraceSave(const testutil::ScratchDir &dir, const QString &path, const QStringList &options)
{
    const QString log = dir.file("strace.log");
    QProcess p;
    p.start("strace", QStringList{"-qq", "-o", log} + options + QStringList{IDLIX_SAVESETTINGS_PROBE, path});
    TTracedSave run;
    if (!p.waitForFinished(30000))
        return run;
    run.killed = p.exitStatus() == QProcess::CrashExit;
    run.code = p.exitCode();
    run.calls = QString::fromUtf8(testutil::readFile(log)).split('\n', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < run.calls.size() && run.saving < 0; ++i) {
        if (run.calls[i].startsWith("write(2, \"saving"))
            run.saving = i;
    }
    return run;
}

const QByteArray kOldSettings = "; kept by hand\r\n[Anti-Idle Options]\r\nHost=old.example\r\nMystery=42\r\n"
                                "[Dial-Up Options]\r\nPassword=old\r\n";

} // namespace

TEST(OptionsFile, EachSaveIsOneRenameAndASaveKilledAtAnyCallLeavesAWholeFile)
{
    if (QStandardPaths::findExecutable("strace").isEmpty())
        GTEST_SKIP() << "strace is not installed";
    testutil::ScratchDir dir;
    // The file after both saves.
    QString path = Write(dir, kOldSettings);
    const TTracedSave whole = TraceSave(dir, path, {});
    ASSERT_EQ(whole.code, 0);
    ASSERT_GE(whole.saving, 0);
    const QByteArray afterBoth = testutil::readFile(path);
    // The options and the preferences: two saves, each one temporary file,
    // one fsync and one rename; what the program does not know is kept.
    int opened = 0, synced = 0, renamed = 0;
    for (const QString &call : whole.calls.mid(whole.saving)) {
        opened += call.startsWith("openat(") && call.contains("O_CREAT");
        synced += call.startsWith("fsync(") || call.startsWith("fdatasync(");
        renamed += call.startsWith("rename") && call.contains("idlix2.ini\"");
    }
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(synced, 2);
    EXPECT_EQ(renamed, 2);
    EXPECT_TRUE(afterBoth.startsWith("; kept by hand\r\n[Anti-Idle Options]\r\nHost=old.example.new\r\nMystery=42\r\n"));
    // Each call of the saves, by its name and its count among calls of that
    // name in the whole run, is where one run is killed.
    QMap<QString, int> seen;
    std::vector<std::pair<QString, int>> points;
    for (qsizetype i = 0; i < whole.calls.size(); ++i) {
        const QString &call = whole.calls[i];
        const QString name = call.section('(', 0, 0);
        const int nth = ++seen[name];
        if (i >= whole.saving && !call.startsWith("+++") && !call.startsWith("exit"))
            points.emplace_back(name, nth);
    }
    ASSERT_GT(points.size(), 6u);
    QSet<QByteArray> endings;
    int killed = 0;
    for (const auto &[name, nth] : points) {
        SCOPED_TRACE(QString("%1 #%2").arg(name).arg(nth).toStdString());
        path = Write(dir, kOldSettings);
        const TTracedSave run =
            TraceSave(dir, path, {"-e", QString("inject=%1:signal=SIGKILL:when=%2").arg(name).arg(nth)});
        killed += run.killed;
        const QByteArray now = testutil::readFile(path);
        // The old file, the file of the options' save, or the file of both.
        EXPECT_TRUE(now == kOldSettings || now == afterBoth || (now.contains("Host=old.example.new")
                                                                && !now.contains("[Service]")))
            << now.constData();
        endings.insert(now);
    }
    // Every run was cut short, and the runs saw each of the three files.
    EXPECT_EQ(killed, int(points.size()));
    EXPECT_EQ(endings.size(), 3);
}
