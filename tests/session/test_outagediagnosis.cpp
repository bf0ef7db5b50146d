// The request a session's outage makes for the diagnosis: its hosts, first
// failing first, with the addresses they were last reached at, against the
// other servers of the list.
#include "session/outagediagnosis.h"

#include "platform/resolver.h"

#include <gtest/gtest.h>

#include <map>

namespace {

std::string text(const platform::IpAddress &a) { return platform::AddressText(a); }

TEST(OutageRequest, TargetsAndOthersFromTheOutage)
{
    const std::map<QString, QString> last = {
        {"a.example", "192.0.2.1"}, {"b.example", "2001:db8::2"}, {"lo4", "127.0.0.53"}, {"lo6", "::1"}, {"c.example", "not an address"},
        {"d.example", "192.0.2.4"}, {"e.example", "192.0.2.5"}, {"f.example", "192.0.2.6"},
    };
    const auto lastAddress = [&last](const QString &host) {
        const auto it = last.find(host);
        return it == last.end() ? QString() : it->second;
    };
    const struct {
        const char *name;
        QStringList tried, servers;
        std::vector<std::pair<std::string, std::string>> targets, others;   // host, address text
        bool localOnly;
        QStringList anchors = {};
    } cases[] = {
        {"one host, no list", {"a.example"}, {}, {{"a.example", "192.0.2.1"}}, {}, false},
        {"never reached", {"x.example"}, {}, {{"x.example", ""}}, {}, true},
        {"not an address kept", {"c.example"}, {}, {{"c.example", ""}}, {}, true},
        {"first failing first", {"b.example", "a.example"}, {"a.example", "b.example", "d.example"},
         {{"b.example", "2001:db8::2"}, {"a.example", "192.0.2.1"}}, {{"d.example", "192.0.2.4"}}, false},
        {"at most three others, blanks skipped", {"a.example"},
         {"a.example", " ", "d.example", "e.example", "x.example", "f.example"},
         {{"a.example", "192.0.2.1"}},
         {{"d.example", "192.0.2.4"}, {"e.example", "192.0.2.5"}, {"x.example", ""}}, false},
        {"this machine only", {"lo4"}, {"lo4", "lo6"}, {{"lo4", "127.0.0.53"}}, {{"lo6", "::1"}}, true},
        {"an other server over the line is enough", {"x.example"}, {"x.example", "lo4", "d.example"},
         {{"x.example", ""}}, {{"lo4", "127.0.0.53"}, {"d.example", "192.0.2.4"}}, false},
        // Anchors: an address as typed, a name by its looked-up address;
        // one never looked up is left out, not counted silent.
        {"anchors first, by address or by name", {"a.example"}, {"a.example", "d.example"},
         {{"a.example", "192.0.2.1"}},
         {{"198.51.100.7", "198.51.100.7"}, {"e.example", "192.0.2.5"}, {"d.example", "192.0.2.4"}}, false,
         {"198.51.100.7", "e.example", "nowhere.example"}},
        {"an anchor in the list takes none of its three places", {"a.example"},
         {"d.example", "e.example", "f.example", "x.example"}, {{"a.example", "192.0.2.1"}},
         {{"e.example", "192.0.2.5"}, {"d.example", "192.0.2.4"}, {"f.example", "192.0.2.6"}, {"x.example", ""}},
         false, {"e.example"}},
        {"an anchor alone over the line is enough", {"x.example"}, {}, {{"x.example", ""}},
         {{"2001:db8::9", "2001:db8::9"}}, false, {"2001:db8::9"}},
        {"the failing host is no anchor of itself", {"a.example"}, {}, {{"a.example", "192.0.2.1"}}, {}, false,
         {"a.example"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TOutage outage;
        outage.HostsTried = c.tried;
        const diagnosis::TDiagnosisRequest r = OutageRequest(outage, c.servers, lastAddress, {.Anchors = c.anchors});
        std::vector<std::pair<std::string, std::string>> targets, others;
        for (const auto &s : r.Targets)
            targets.emplace_back(s.Host, text(s.LastAddress));
        for (const auto &s : r.Others)
            others.emplace_back(s.Host, text(s.LastAddress));
        EXPECT_EQ(targets, c.targets);
        EXPECT_EQ(others, c.others);
        EXPECT_EQ(r.LocalOnly, c.localOnly);
    }
}

TEST(OutageRequest, TheCheckPageWithItsHostsAddress)
{
    const auto lastAddress = [](const QString &host) {
        return host == "check.example" ? QStringLiteral("192.0.2.80") : QString();
    };
    const struct {
        const char *name;
        QString url;
        std::string address;   // the text of the one the request carries
    } cases[] = {
        {"none set", "", ""},
        {"a name looked up", "http://check.example/ok.txt", "192.0.2.80"},
        {"an address as typed", "http://198.51.100.80:8080/ok", "198.51.100.80"},
        {"an IPv6 address as typed", "http://[2001:db8::80]/ok", "2001:db8::80"},
        // Asked nowhere: its address is unknown.
        {"a name never looked up", "http://other.example/", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TOutage outage;
        outage.HostsTried = {"a.example"};
        const diagnosis::TDiagnosisRequest r =
            OutageRequest(outage, {}, lastAddress, {.CheckUrl = c.url, .CheckExpect = "ok"});
        EXPECT_EQ(r.Check.Url, c.url);
        EXPECT_EQ(r.Check.Expect, c.url.isEmpty() ? "" : "ok");
        EXPECT_EQ(text(r.Check.Address), c.address);
    }
}

} // namespace
