// Probe targets as the host field and Servers.dat name them: plain entries
// untouched, each scheme's parts, and a clear reason for every malformed URL.
#include "session/probeurl.h"

#include "../support/qtprint.h"

#include <gtest/gtest.h>

#include <random>

using session::ParseProbeUrl;
using session::TProbeKind;
using session::TProbeUrl;

namespace {

constexpr TProbeKind None = TProbeKind::None, Echo = TProbeKind::Echo, Tcp = TProbeKind::Tcp,
                     Https = TProbeKind::Https, Dns = TProbeKind::Dns, Burst = TProbeKind::Burst;

} // namespace

TEST(ProbeUrl, EntriesAndTheirParts)
{
    const struct {
        const char *entry;
        TProbeKind kind;
        const char *host;
        int port;
        const char *path;
        const char *dnsName, *dnsType;
        int count;
    } cases[] = {
        // Plain entries are left exactly as written: the method and its
        // lookup decide, as they always did (blanks and all).
        {"host.idlix.test", None, "host.idlix.test", -1, "", "", "", 0},
        {" 10.0.0.1 ", None, " 10.0.0.1 ", -1, "", "", "", 0},
        {"host:8080/x", None, "host:8080/x", -1, "", "", "", 0},
        {"", None, "", -1, "", "", "", 0},
        {"http://h.test/page", None, "http://h.test/page", -1, "", "", "", 0},
        {"HTTP://h.test", None, "HTTP://h.test", -1, "", "", "", 0},
        // tcp
        {"tcp://h.test:22", Tcp, "h.test", 22, "", "", "", 0},
        {"TCP://h.test:65535/", Tcp, "h.test", 65535, "", "", "", 0},
        {"tcp://10.200.3.10:1", Tcp, "10.200.3.10", 1, "", "", "", 0},
        {"tcp://[fd00:200:3::10]:443", Tcp, "fd00:200:3::10", 443, "", "", "", 0},
        {"  tcp://h.test:80  ", Tcp, "h.test", 80, "", "", "", 0},
        // https: the port and path defaults, the query kept, the fragment not
        {"https://h.test", Https, "h.test", 443, "/", "", "", 0},
        {"https://h.test:8443/a/b?x=1&y=2#top", Https, "h.test", 8443, "/a/b?x=1&y=2", "", "", 0},
        {"https://h.test?q", Https, "h.test", 443, "/?q", "", "", 0},
        {"https://[::1]/", Https, "::1", 443, "/", "", "", 0},
        // dns: the server may be left out, the type defaults to A
        {"dns:///example.test", Dns, "", 53, "", "example.test", "A", 0},
        {"dns://10.200.3.53/h.idlix.test?type=mx", Dns, "10.200.3.53", 53, "", "h.idlix.test", "MX", 0},
        {"dns://ns.test:5353/x.test?TYPE=AAAA", Dns, "ns.test", 5353, "", "x.test", "AAAA", 0},
        {"dns://[fd00:200:3::53]/x.test?type=SOA", Dns, "fd00:200:3::53", 53, "", "x.test", "SOA", 0},
        // echo: one designed echo, or a burst
        {"echo://h.test", Echo, "h.test", -1, "", "", "", 0},
        {"echo://h.test/?", Echo, "h.test", -1, "", "", "", 0},
        {"echo://h.test?count=1", Burst, "h.test", -1, "", "", "", 1},
        {"echo://10.200.3.30?count=20", Burst, "10.200.3.30", -1, "", "", "", 20},
        {"echo://[fd00:200:3::30]/?Count=5", Burst, "fd00:200:3::30", -1, "", "", "", 5},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entry);
        TProbeUrl url;
        QString error = QStringLiteral("untouched");
        ASSERT_TRUE(ParseProbeUrl(QString::fromUtf8(c.entry), &url, &error)) << error.toStdString();
        EXPECT_EQ(error, QStringLiteral("untouched"));
        EXPECT_EQ(url.Kind, c.kind);
        EXPECT_EQ(url.Host, QString::fromUtf8(c.host));
        EXPECT_EQ(url.Port, c.port);
        EXPECT_EQ(url.Path, QString::fromUtf8(c.path));
        EXPECT_EQ(url.DnsName, QString::fromUtf8(c.dnsName));
        EXPECT_EQ(url.DnsType, QString::fromUtf8(c.dnsType));
        EXPECT_EQ(url.Count, c.count);
    }
}

TEST(ProbeUrl, MalformedUrlsSayWhy)
{
    const struct {
        const char *entry;
        const char *error;
    } cases[] = {
        {"ftp://h.test/", "unknown kind of probe \"ftp://\" (tcp, https, dns and echo are known)"},
        {"://h.test", "unknown kind of probe \"://\" (tcp, https, dns and echo are known)"},
        {"tcp://h.test", "no port (tcp://HOST:PORT)"},
        {"tcp://h.test:", "port \"\" is not a number in 1..65535"},
        {"tcp://h.test:0", "port \"0\" is not a number in 1..65535"},
        {"tcp://h.test:65536", "port \"65536\" is not a number in 1..65535"},
        {"tcp://h.test:+80", "port \"+80\" is not a number in 1..65535"},
        {"tcp://h.test:8o", "port \"8o\" is not a number in 1..65535"},
        {"tcp://fd00::1", "no port (tcp://HOST:PORT)"},
        {"tcp://:80", "no host"},
        {"tcp://h.test:80/x", "a TCP probe takes no path"},
        {"tcp://h.test:80?count=2", "unknown parameter \"count\""},
        {"tcp://user@h.test:80", "a probe takes no user name"},
        {"https://", "no host"},
        {"https://h.test:99999/", "port \"99999\" is not a number in 1..65535"},
        {"https://bad host/", "\"bad host\" is not a host name or address"},
        {"https://[h.test]/", "\"[h.test]\" is not a host name or address"},
        {"dns://10.200.3.53", "no name to ask (dns://[SERVER]/NAME)"},
        {"dns:///", "no name to ask (dns://[SERVER]/NAME)"},
        {"dns:///a/b", "\"a/b\" is not a name to ask"},
        {"dns:///x.test?type=PTR", "unknown DNS type \"PTR\" (A, AAAA, MX, TXT, NS and SOA are known)"},
        {"dns:///x.test?type=", "unknown DNS type \"\" (A, AAAA, MX, TXT, NS and SOA are known)"},
        {"dns:///x.test?class=IN", "unknown parameter \"class\""},
        {"echo://h.test?count=0", "count \"0\" is not a number in 1..20"},
        {"echo://h.test?count=21", "count \"21\" is not a number in 1..20"},
        {"echo://h.test?count=", "count \"\" is not a number in 1..20"},
        {"echo://h.test?count=-3", "count \"-3\" is not a number in 1..20"},
        {"echo://h.test:7?count=2", "an echo takes no port"},
        {"echo://h.test/x", "an echo takes no path"},
        {"echo://h.test?size=100", "unknown parameter \"size\""},
        {"echo://?count=2", "no host"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.entry);
        TProbeUrl url;
        url.Host = QStringLiteral("stale");
        QString error;
        EXPECT_FALSE(ParseProbeUrl(QString::fromUtf8(c.entry), &url, &error));
        EXPECT_EQ(error, QString::fromUtf8(c.error));
        // Nothing half-read is left behind for a caller that ignores the result.
        EXPECT_EQ(url.Kind, None);
        EXPECT_TRUE(url.Host.isEmpty());
        // Without a place for the reason, the answer is the same.
        EXPECT_FALSE(ParseProbeUrl(QString::fromUtf8(c.entry), &url, nullptr));
    }
}

TEST(ProbeUrl, HostPortTexts)
{
    EXPECT_EQ(session::HostPortText(QStringLiteral("h.test"), 80), QStringLiteral("h.test:80"));
    EXPECT_EQ(session::HostPortText(QStringLiteral("10.0.0.1"), 1), QStringLiteral("10.0.0.1:1"));
    EXPECT_EQ(session::HostPortText(QStringLiteral("fd00::1"), 443), QStringLiteral("[fd00::1]:443"));
}

// Random text after each scheme: whatever it is, the reader answers (no
// crash, no hang), a failure always says why, and a success is of the kind
// the scheme names with the ranges kept.
TEST(ProbeUrl, RandomTextNeverBreaksTheReader)
{
    std::mt19937 random(39);
    const char alphabet[] = "ab.:/?=&#[]@%09 -";
    const QString schemes[] = {"tcp://", "https://", "dns://", "echo://", "http://", ""};
    for (int i = 0; i < 20000; ++i) {
        QString tail;
        const int len = int(random() % 24);
        for (int k = 0; k < len; ++k)
            tail += QLatin1Char(alphabet[random() % (sizeof alphabet - 1)]);
        const QString &scheme = schemes[i % 6];
        TProbeUrl url;
        QString error;
        if (!ParseProbeUrl(scheme + tail, &url, &error)) {
            EXPECT_FALSE(error.isEmpty()) << (scheme + tail).toStdString();
            continue;
        }
        if (url.Kind == None)
            continue;
        EXPECT_TRUE(url.Port == -1 || (url.Port >= 1 && url.Port <= 65535)) << (scheme + tail).toStdString();
        EXPECT_TRUE(url.Kind != Burst || (url.Count >= 1 && url.Count <= 20)) << (scheme + tail).toStdString();
        EXPECT_TRUE(url.Kind == Dns || !url.Host.isEmpty()) << (scheme + tail).toStdString();
    }
}
