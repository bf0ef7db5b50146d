// What the service makes of its command line and its settings before it
// starts: the options it takes, the metrics addresses it listens on, and
// every setting that cannot work refused with its reason and status.
#include "service/metricsaddress.h"
#include "service/serviceargs.h"
#include "service/serviceconfig.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace service;

TEST(ServiceArgs, OptionsAndWhatIsRefused)
{
    const struct {
        QStringList args;
        QString config;
        std::optional<QString> metrics;
        bool help, version;
        QString error;
    } cases[] = {
        {{"--headless"}, "", std::nullopt, false, false, ""},
        {{"--headless", "--config", "/var/lib/idlix"}, "/var/lib/idlix", std::nullopt, false, false, ""},
        {{"--config=/srv/x", "--headless"}, "/srv/x", std::nullopt, false, false, ""},
        {{"--headless", "--metrics", "127.0.0.1:9417"}, "", QString("127.0.0.1:9417"), false, false, ""},
        {{"--headless", "--metrics=:9417"}, "", QString(":9417"), false, false, ""},
        {{"--headless", "--metrics", "off"}, "", QString(""), false, false, ""},
        {{"--headless", "--metrics", "OFF"}, "", QString(""), false, false, ""},
        {{"--headless", "--help"}, "", std::nullopt, true, false, ""},
        {{"--headless", "-h"}, "", std::nullopt, true, false, ""},
        {{"--headless", "--version"}, "", std::nullopt, false, true, ""},
        {{"--headless", "--config"}, "", std::nullopt, false, false, "missing value for option '--config'"},
        {{"--headless", "--metrics"}, "", std::nullopt, false, false, "missing value for option '--metrics'"},
        {{"--headless", "--config="}, "", std::nullopt, false, false, "--config needs a folder"},
        {{"--headless", "--verbose"}, "", std::nullopt, false, false, "unknown option '--verbose'"},
        {{"--headless", "-platform", "xcb"}, "", std::nullopt, false, false, "unknown option '-platform'"},
        {{"--headless", "idlix2.ini"}, "", std::nullopt, false, false, "unexpected argument 'idlix2.ini'"},
        {{"--headless", "--help=yes"}, "", std::nullopt, false, false, "unknown option '--help=yes'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const config::TCommandLine a = config::ParseCommandLine(c.args, "headless");
        EXPECT_EQ(a.Error, c.error);
        if (!c.error.isEmpty())
            continue;
        EXPECT_EQ(a.DataDir, c.config);
        EXPECT_EQ(MetricsOption(a), c.metrics);
        EXPECT_EQ(a.Help, c.help);
        EXPECT_EQ(a.Version, c.version);
    }
}

TEST(MetricsAddress, WhereTheEndpointListens)
{
    const struct {
        const char *text;
        const char *listens;    // nullptr: refused
    } cases[] = {
        {"127.0.0.1:9417", "127.0.0.1:9417"},
        {" 127.0.0.1:9417 ", "127.0.0.1:9417"},
        {"9417", "127.0.0.1:9417"},          // a port alone: loopback
        {":9417", "127.0.0.1:9417"},
        {"localhost:9417", "127.0.0.1:9417"},
        {"LOCALHOST:1", "127.0.0.1:1"},
        {"0.0.0.0:9417", "0.0.0.0:9417"},    // every address, as asked
        {"192.168.1.20:65535", "192.168.1.20:65535"},
        {"[::1]:9417", "[::1]:9417"},
        {"[::]:9417", "[::]:9417"},
        {"[0:0::1]:80", "[::1]:80"},
        {"", nullptr},
        {"127.0.0.1", nullptr},              // an address alone is no port
        {"127.0.0.1:0", nullptr},
        {"127.0.0.1:65536", nullptr},
        {"127.0.0.1:94x7", nullptr},
        {"127.0.0.1:+80", nullptr},
        {"10.1:9417", nullptr},              // inet_addr's short forms are not addresses here
        {"010.0.0.1:9417", nullptr},
        {"256.0.0.1:9417", nullptr},
        {"::1:9417", nullptr},               // IPv6 needs its brackets
        {"[::1]", nullptr},
        {"[::1:9417", nullptr},
        {"[fe80::1%eth0]:9417", nullptr},
        {"[127.0.0.1]:9417", nullptr},
        {"metrics.example:9417", nullptr},   // names are not looked up
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        TListenAddress at;
        QString error;
        const bool ok = ParseListenAddress(c.text, &at, &error);
        EXPECT_EQ(ok, c.listens != nullptr) << error.toStdString();
        if (ok) {
            EXPECT_EQ(at.Text(), c.listens);
        } else {
            EXPECT_TRUE(error.startsWith("metrics address '")) << error.toStdString();
        }
    }
}

TEST(ServiceConfig, SettingsThatCannotWorkAreRefusedWithTheirReason)
{
    using Opt = config::TAntiIdleOptions;
    const struct {
        const char *name;
        bool cycle;
        const char *host, *frequency;
        int method;
        bool listRead;
        QStringList list;
        const char *reason;    // nullptr: runs
    } cases[] = {
        {"a host", false, "127.0.0.1", "1", Opt::IcmpPings, false, {}, nullptr},
        {"a list", true, "", "5", Opt::HttpGets, true, {"a.test", "b.test"}, nullptr},
        {"a frequency past its range is taken to the range", false, "h", "0", Opt::HttpGets, false, {}, nullptr},
        {"no host and no list", false, "", "1", Opt::IcmpPings, false, {}, "no host to probe"},
        {"a host of blanks", false, "   ", "1", Opt::IcmpPings, true, {"a.test"}, "no host to probe"},
        {"cycling without a list file", true, "h", "1", Opt::IcmpPings, false, {}, "cannot be read"},
        {"cycling over an empty list", true, "h", "1", Opt::IcmpPings, true, {}, "is empty"},
        {"cycling over blank lines", true, "h", "1", Opt::IcmpPings, true, {"", " "}, "is empty"},
        {"a frequency that is no number", false, "h", "x", Opt::IcmpPings, false, {},
         "'x' is not a valid integer value"},
        {"no method", false, "h", "1", -1, false, {}, "no probe method"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        config::TOptions o;
        o.AntiIdle.Options[Opt::CycleServerList] = c.cycle;
        o.AntiIdle.Host = c.host;
        o.AntiIdle.Frequency = c.frequency;
        o.AntiIdle.Method = c.method;
        const TServiceProblem p = CheckSessionOptions(o, "/d/idlix2.ini", "/d/Servers.dat", c.listRead, c.list);
        EXPECT_EQ(p.Code, c.reason ? kExitConfig : kExitOk);
        if (c.reason) {
            EXPECT_TRUE(p.Reason.contains(c.reason)) << p.Reason.toStdString();
        }
    }
}

TEST(ServiceConfig, EveryTargetEachIntervalFromTheServiceKeysAndItsBounds)
{
    const struct {
        const char *name;
        bool windowOn;           // [Probe All] Enabled
        int windowInterval;      // [Probe All] Interval
        int serviceOn, serviceInterval;   // [Service] ProbeAll=, ProbeAllInterval= (-1 / 0: not set)
        bool on;
        int interval;
        const char *reason;      // nullptr: runs
    } cases[] = {
        {"nothing set: the designed cycle", false, 60, -1, 0, false, 60, nullptr},
        {"the service's keys alone", false, 60, 1, 15, true, 15, nullptr},
        {"the window's section when the service sets nothing", true, 30, -1, 0, true, 30, nullptr},
        {"the service turns off what the window set", true, 30, 0, 0, false, 30, nullptr},
        {"the service's interval over the window's", true, 30, -1, 10, true, 10, nullptr},
        {"too short from the service", false, 60, 1, 4,  true, 4,
         "[Service] ProbeAllInterval of 4 s is too short: every target is probed at most every 5 s (/d/idlix2.ini)"},
        {"no number from the service", false, 60, 1, -1, true, -1,
         "[Service] ProbeAllInterval is not a number of seconds"},
        {"too short from the window's section", true, 3, 1, 0, true, 3,
         "[Probe All] Interval of 3 s is too short"},
        {"too short but off: not looked at", false, 3, -1, 0, false, 3, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        config::TOptions o;
        o.AntiIdle.Host = "h";
        o.ProbeAll = {c.windowOn, c.windowInterval};
        o.Service.ProbeAll = c.serviceOn;
        o.Service.ProbeAllInterval = c.serviceInterval;
        TakeServiceProbeAll(o);
        EXPECT_EQ(o.ProbeAll.Enabled, c.on);
        EXPECT_EQ(o.ProbeAll.Interval, c.interval);
        const TServiceProblem p = CheckSessionOptions(o, "/d/idlix2.ini", "/d/Servers.dat", false, {});
        EXPECT_EQ(p.Code, c.reason ? kExitConfig : kExitOk);
        if (c.reason) {
            EXPECT_TRUE(p.Reason.contains(c.reason)) << p.Reason.toStdString();
        }
    }
}

TEST(ServiceConfig, TheDataFolderAndTheSettingsFile)
{
    testutil::ScratchDir dir;
    const QString ini = dir.file("idlix2.ini");
    QFile f(dir.file("plain"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_FALSE(CheckDataFolder(dir.path(), ini));                // no settings: the defaults
    EXPECT_TRUE(CheckDataFolder(dir.file("missing"), QString()).Reason.contains("does not exist"));
    EXPECT_TRUE(CheckDataFolder(dir.file("plain"), QString()).Reason.contains("is not a folder"));
    EXPECT_EQ(CheckDataFolder(dir.file("plain"), QString()).Code, kExitConfig);
    // A settings "file" that is a folder cannot be read, by root neither.
    ASSERT_TRUE(QDir().mkdir(ini));
    const TServiceProblem p = CheckDataFolder(dir.path(), ini);
    EXPECT_EQ(p.Code, kExitConfig);
    EXPECT_TRUE(p.Reason.contains("cannot read the settings")) << p.Reason.toStdString();
}

TEST(ServiceConfig, EchoesWithoutPermissionStopTheServiceWithTheWayToAllowThem)
{
    using Opt = config::TAntiIdleOptions;
    const struct {
        int method;
        bool allowed;
        int code;
    } cases[] = {
        {Opt::IcmpPings, false, kExitNoPermission},
        {Opt::Alternate, false, kExitNoPermission},
        {Opt::HttpGets, false, kExitOk},   // its opening echo fails alone
        {Opt::IcmpPings, true, kExitOk},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.method);
        config::TOptions o;
        o.AntiIdle.Method = c.method;
        const TServiceProblem p = CheckEchoPermission(o, c.allowed);
        EXPECT_EQ(p.Code, c.code);
        if (c.code == kExitNoPermission) {
            EXPECT_TRUE(p.Reason.contains("net.ipv4.ping_group_range"));
            EXPECT_TRUE(p.Reason.contains("CAP_NET_RAW"));
        }
    }
}
