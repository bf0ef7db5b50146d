// The diagnosis on the test network, each cause made for real in the
// namespaces: the client's link, the router dropping everything, the second
// hop blackholing, the name server stopped, a target that ignores echoes.
#include "diagnosis/diagnosis.h"
#include "diagnosis/routetrace.h"

#include "../support/mockbus.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"
#include "platform/resolver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <chrono>
#include <optional>

using namespace std::chrono_literals;
using namespace testnet;
using testutil::pump;
using testutil::waitFor;
using diagnosis::TDiagnosis;
using diagnosis::TDiagnosisRequest;
using diagnosis::TDiagnosisResult;
using diagnosis::TVerdict;

namespace {

platform::IpAddress ip(const char *text)
{
    platform::IpAddress a;
    if (!platform::ParseIPv6(text, a))
        a = platform::IpAddress::V4(platform::InetAddr(text));
    return a;
}

TDiagnosisRequest::TServer server(const char *host, const char *address)
{
    return {host, ip(address)};
}

// The client's eth0 switched off keeps its IPv6 addresses (as a laptop's
// interface keeps its configuration), and its routes come back with it.
const char *const kClientOff = "sysctl -qw net.ipv6.conf.eth0.keep_addr_on_down=1 && ip link set eth0 down";
const char *const kClientOn = "ip link set eth0 up && ip route replace default via 10.200.1.1 && "
                              "ip -6 route replace default via fd00:200:1::1";
// r1's end of the cable pulled: the client's eth0 is up without carrier.
const char *const kPeerOff = "sysctl -qw net.ipv6.conf.eth0.keep_addr_on_down=1 && ip link set eth0 down";
const char *const kPeerOn = "ip link set eth0 up";

struct Cause {
    const char *name;
    Role where;                  // whose namespace the fault is made in
    std::optional<Listen> dark;  // that host drops every packet of these families...
    std::string make, mend;      // ...or these shell commands make and mend the fault there
    bool silenceNameServer;
    std::vector<TDiagnosisRequest::TServer> targets, others;
    TVerdict verdict;
    const char *evidence;        // the whole line, as a pattern
};

class DiagnosisNet : public NetTest {
protected:
    // Runs one diagnosis and waits for its answer; checks it is told once.
    std::optional<TDiagnosisResult> diagnose(TDiagnosisRequest request)
    {
        TDiagnosis diagnosis;
        int told = 0;
        std::optional<TDiagnosisResult> result;
        diagnosis.OnDone = [&](const TDiagnosisResult &r) {
            ++told;
            result = r;
        };
        EXPECT_TRUE(diagnosis.Start(std::move(request)));
        EXPECT_FALSE(diagnosis.Start({})) << "a second start while one runs";
        waitFor([&] { return told > 0; }, 8s);
        pump(200ms);
        EXPECT_EQ(told, result ? 1 : 0);
        EXPECT_FALSE(diagnosis.Running());
        return result;
    }
};

TEST_F(DiagnosisNet, EachCauseGivesItsVerdictAndEvidence)
{
    if (!Ready())
        return;
    const auto host = server("host.idlix.test", kHost);
    const auto quiet = server("quiet.idlix.test", kQuiet);
    const Cause causes[] = {
        {"all well", Role::Client, std::nullopt, "", "", false, {host}, {}, TVerdict::Unknown,
         R"(Everything answers now: The router 10\.200\.1\.1 answers in [0-9.]+ ms; hop 2 \(10\.200\.2\.2\) answers; 10\.200\.3\.10 in [0-9.]+ ms\.)"},
        {"gateway drops everything", Role::R1, Listen::Both, "", "", false, {host}, {}, TVerdict::Gateway,
         R"(The router 10\.200\.1\.1 does not answer \(no echo in 1 s\)\.)"},
        {"provider blackholes", Role::R2, Listen::Both, "", "", false, {host}, {}, TVerdict::Provider,
         R"(The router 10\.200\.1\.1 answers in [0-9.]+ ms; nothing past it does \(hop 2 silent\)\.)"},
        {"name server stopped", Role::Client, std::nullopt, "", "", true, {host}, {}, TVerdict::Dns,
         R"(The name service does not answer for host\.idlix\.test \(no answer in 1\.5 s\); 10\.200\.3\.10 answers in [0-9.]+ ms\.)"},
        {"target alone", Role::Client, std::nullopt, "", "", false, {quiet}, {host}, TVerdict::Target,
         R"(10\.200\.3\.20 does not answer; 10\.200\.3\.10 does \([0-9.]+ ms\)\.)"},
        {"some others silent", Role::Client, std::nullopt, "", "", false, {quiet}, {host, server("far", kNoRoute)}, TVerdict::Partial,
         R"(10\.200\.3\.20, 10\.200\.9\.9 do not answer; 10\.200\.3\.10 does \([0-9.]+ ms\)\.)"},
        {"nothing to compare with", Role::Client, std::nullopt, "", "", false, {quiet}, {}, TVerdict::Unknown,
         R"(The router 10\.200\.1\.1 answers in [0-9.]+ ms; hop 2 \(10\.200\.2\.2\) answers; 10\.200\.3\.20 does not answer, and there is no other server to compare with\.)"},
        {"IPv6 blackholed past the router", Role::R2, Listen::V6, "", "", false,
         {host, server("host.v6.idlix.test", kHost6)}, {}, TVerdict::Partial,
         R"(IPv4 works; IPv6: The router fd00:200:1::1 answers in [0-9.]+ ms; nothing past it does \(hop 2 silent\)\.)"},
        {"no carrier", Role::R1, std::nullopt, kPeerOff, kPeerOn, false, {host}, {}, TVerdict::Link,
         R"(The interface eth0 has no carrier \(cable or radio link lost\)\.)"},
        {"interface off", Role::Client, std::nullopt, kClientOff, kClientOn, false, {host}, {}, TVerdict::Link,
         R"(There is no IPv4 route out: eth0 is switched off\.)"},
    };
    for (const Cause &c : causes) {
        SCOPED_TRACE(c.name);
        if (c.dark) {
            ASSERT_TRUE(net->dropEverything(c.where, true, *c.dark));
        }
        if (!c.make.empty()) {
            ASSERT_EQ(net->run(c.where, c.make), 0) << c.make;
        }
        if (c.silenceNameServer) {
            ASSERT_TRUE(net->silenceNameServer(true));
        }
        TDiagnosisRequest request;
        request.Targets = c.targets;
        request.Others = c.others;
        const std::optional<TDiagnosisResult> result = diagnose(request);
        if (c.silenceNameServer) {
            EXPECT_TRUE(net->silenceNameServer(false));
        }
        if (!c.mend.empty()) {
            EXPECT_EQ(net->run(c.where, c.mend), 0) << c.mend;
        }
        if (c.dark) {
            EXPECT_TRUE(net->dropEverything(c.where, false, *c.dark));
        }
        ASSERT_TRUE(result) << "no verdict within 8 s";
        EXPECT_EQ(diagnosis::VerdictName(result->Verdict), diagnosis::VerdictName(c.verdict));
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^(%1)$").arg(QString::fromUtf8(c.evidence)))
                        .match(result->Evidence).hasMatch())
            << result->Evidence.toStdString();
        EXPECT_LT(result->ElapsedMs, 5000);
        EXPECT_GT(result->BytesSent, 0);
        EXPECT_LT(result->BytesSent, 2048);
    }
}

TEST_F(DiagnosisNet, TheDialUpLineComesFirst)
{
    if (!Ready())
        return;
    TDiagnosisRequest request;
    request.Targets = {server("host.idlix.test", kHost)};
    request.Line = {true, false, QStringLiteral("Provider")};
    const std::optional<TDiagnosisResult> result = diagnose(request);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Verdict, TVerdict::Link);
    EXPECT_EQ(result->Evidence, QStringLiteral("The dial-up line Provider is not connected."));
    // Nothing went on the wire but the name's lookup.
    EXPECT_LT(result->BytesSent, 200);
}

TEST_F(DiagnosisNet, AbandonedDiagnosisTellsNobody)
{
    if (!Ready())
        return;
    int told = 0;
    {
        TDiagnosis diagnosis;
        diagnosis.OnDone = [&](const TDiagnosisResult &) { ++told; };
        TDiagnosisRequest request;
        request.Targets = {server("quiet.idlix.test", kQuiet)};
        ASSERT_TRUE(diagnosis.Start(request));
        pump(100ms);
    }
    pump(3s);
    EXPECT_EQ(told, 0);
}

TEST_F(DiagnosisNet, WithoutAServerOverTheLineNothingIsSent)
{
    if (!Ready())
        return;
    TDiagnosisRequest request;
    request.Targets = {server("host.idlix.test", "127.0.0.1")};
    request.LocalOnly = true;
    const std::size_t asked = net->nameServerQueries().size();
    const std::optional<TDiagnosisResult> result = diagnose(request);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Verdict, TVerdict::Unknown);
    EXPECT_EQ(result->Evidence, QStringLiteral("The interface eth0 is up (IPv4 via 10.200.1.1); no server was "
                                               "reached over the line to check past it."));
    EXPECT_EQ(result->BytesSent, 0);
    EXPECT_EQ(net->nameServerQueries().size(), asked) << "no lookup either";
}

TEST_F(DiagnosisNet, TheRouteAtTheOutagesStart)
{
    if (!Ready())
        return;
    ASSERT_TRUE(net->addSilentRoute());
    // Each hop as "address name ms?" ("*" for a lost one), and the longest
    // the trace may take.
    const struct {
        const char *name;
        const char *to;
        std::optional<Role> dark;
        QStringList hops;
        int mostMs;
    } cases[] = {
        {"a silent router on the way", kBeyond, std::nullopt,
         {"10.200.1.1 r1.idlix.test ms", "10.200.2.2 r2.idlix.test ms", "*", "10.200.4.10 beyond.idlix.test ms"}, 5000},
        // The name server is behind the blackhole too: the router has no name.
        {"blackholed past the router", kHost, Role::R2, {"10.200.1.1  ms", "*", "*", "*"}, 5600},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.dark) {
            ASSERT_TRUE(net->dropEverything(*c.dark, true));
        }
        diagnosis::TRouteTrace trace;
        QStringList told;
        trace.OnDone = [&](const QString &hops) { told << hops; };
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(trace.Start(QString::fromLatin1(c.to)));
        EXPECT_FALSE(trace.Start(QString::fromLatin1(c.to))) << "one at a time";
        waitFor([&] { return !told.isEmpty(); }, 8s);
        const qint64 took = clock.elapsed();
        pump(300ms);
        if (c.dark) {
            EXPECT_TRUE(net->dropEverything(*c.dark, false));
        }
        ASSERT_EQ(told.size(), 1);
        EXPECT_LE(took, c.mostMs);
        const QJsonDocument doc = QJsonDocument::fromJson(told[0].toUtf8());
        ASSERT_TRUE(doc.isArray()) << told[0].toStdString();
        QStringList hops;
        int expected = 1;
        for (const QJsonValue &v : doc.array()) {
            const QJsonObject hop = v.toObject();
            EXPECT_EQ(hop.value("hop").toInt(), expected++);
            if (hop.value("address").isNull()) {
                EXPECT_TRUE(hop.value("ms").isNull() && hop.value("name").isNull());
                hops << "*";
            } else {
                hops << hop.value("address").toString() + " " + hop.value("name").toString()
                            + (hop.value("ms").isDouble() ? " ms" : " no ms");
            }
        }
        // A blackholed route runs into the time limit: at least its first silent hops.
        EXPECT_EQ(hops.mid(0, c.hops.size()), c.hops) << told[0].toStdString();
        if (!c.dark) {
            EXPECT_EQ(hops.size(), c.hops.size()) << "nothing past the target";
        }
    }
}

TEST_F(DiagnosisNet, ACaptivePortalWantsALogin)
{
    if (!Ready())
        return;
    // The router hands every web request of the client to the portal's
    // server (on the host, port 8080) and lets nothing else through.
    const pid_t portal = net->startNginx(Role::Host, "redirect:http://portal.idlix.test/login", 8080, Listen::V4);
    ASSERT_GT(portal, 0);
    const std::string captive =
        "nft add table ip idxportal && "
        "nft 'add chain ip idxportal pre { type nat hook prerouting priority -100 ; }' && "
        "nft add rule ip idxportal pre iifname eth0 tcp dport 80 dnat to 10.200.3.10:8080 && "
        "nft 'add chain ip idxportal through { type filter hook forward priority 0 ; }' && "
        "nft add rule ip idxportal through iifname eth0 ip daddr 10.200.3.10 tcp dport 8080 accept && "
        "nft add rule ip idxportal through iifname eth0 drop";
    ASSERT_EQ(net->run(Role::R1, captive), 0);
    TDiagnosisRequest request;
    request.Targets = {server("quiet.idlix.test", kQuiet)};
    request.Others = {server("host.idlix.test", kHost)};
    const std::optional<TDiagnosisResult> result = diagnose(request);
    EXPECT_EQ(net->run(Role::R1, "nft delete table ip idxportal"), 0);
    TestNet::stopNginx(portal);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->Verdict, TVerdict::Portal);
    EXPECT_EQ(result->Evidence,
              QStringLiteral("A login page answers for quiet.idlix.test: http://portal.idlix.test/login (HTTP 302)."));
    // The page the user is sent to log in: the redirect's own address.
    EXPECT_EQ(result->PortalUrl, QStringLiteral("http://portal.idlix.test/login"));
    EXPECT_LT(result->ElapsedMs, 5000);
    EXPECT_LT(result->BytesSent, 2048);
}

TEST_F(DiagnosisNet, TheUsersCheckPageTellsAPortal)
{
    if (!Ready())
        return;
    // The host serves the check page on 8081, and on 8082 sends every
    // request to a login page, as a portal in the path would.
    testutil::ScratchDir www;
    for (const auto &[name, text] : {std::pair{"ok.txt", "all good here\n"}, std::pair{"other.txt", "Please sign in\n"}}) {
        QFile f(www.file(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QFile::setPermissions(www.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther |
                                          QFile::ReadGroup | QFile::ExeGroup);
    const pid_t page = net->startNginx(Role::Host, www.path().toStdString(), 8081, Listen::V4);
    const pid_t portal = net->startNginx(Role::Host, "redirect:http://portal.idlix.test/login", 8082, Listen::V4);
    ASSERT_GT(page, 0);
    ASSERT_GT(portal, 0);
    const struct {
        const char *name;
        const char *url;
        TVerdict verdict;
        QString evidence, portalUrl;
    } cases[] = {
        // The page as it always is: the ladder goes on to the servers.
        {"the page as expected", "http://10.200.3.10:8081/ok.txt", TVerdict::Target,
         "10.200.3.20 does not answer; 10.200.3.10 does (", ""},
        {"another page in its place", "http://10.200.3.10:8081/other.txt", TVerdict::Portal,
         "The check page http://10.200.3.10:8081/other.txt does not hold \"all good\" (HTTP 200): something else "
         "answers for it.",
         ""},
        {"sent to a login page", "http://10.200.3.10:8082/ok.txt", TVerdict::Portal,
         "The check page http://10.200.3.10:8082/ok.txt is sent to http://portal.idlix.test/login (HTTP 302).",
         "http://portal.idlix.test/login"},
        // Nobody answers for it: no word on a portal either way.
        {"nobody there", "http://10.200.3.10:8089/ok.txt", TVerdict::Target,
         "10.200.3.20 does not answer; 10.200.3.10 does (", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TDiagnosisRequest request;
        request.Targets = {server("quiet.idlix.test", kQuiet)};
        request.Others = {server("host.idlix.test", kHost)};
        request.Check = {c.url, ip(kHost), QStringLiteral("all good")};
        const std::optional<TDiagnosisResult> result = diagnose(request);
        ASSERT_TRUE(result);
        EXPECT_EQ(diagnosis::VerdictName(result->Verdict), diagnosis::VerdictName(c.verdict));
        EXPECT_TRUE(result->Evidence.startsWith(c.evidence)) << result->Evidence.toStdString();
        EXPECT_EQ(result->PortalUrl, c.portalUrl);
        EXPECT_LT(result->BytesSent, 2048);
    }
    TestNet::stopNginx(page);
    TestNet::stopNginx(portal);
}

TEST_F(DiagnosisNet, NetworkManagerSaysPortal)
{
    if (!Ready())
        return;
    const QString skip = testsupport::MockBus::SkipReason();
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    testsupport::MeteredNetworkManager nm;
    ASSERT_TRUE(nm.Start());
    // NetworkManager's word, whatever the echoes say: none, portal, full.
    const struct {
        uint connectivity;
        TVerdict verdict;
    } cases[] = {{1, TVerdict::Unknown}, {2, TVerdict::Portal}, {4, TVerdict::Unknown}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.connectivity);
        const QDBusMessage set = nm.bus.Call(
            "org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager", "org.freedesktop.DBus.Mock",
            "SetProperty", {"/org/freedesktop/NetworkManager", "org.freedesktop.NetworkManager", "Connectivity",
                            QVariant::fromValue(QDBusVariant(QVariant::fromValue(c.connectivity)))});
        ASSERT_EQ(set.type(), QDBusMessage::ReplyMessage) << set.errorMessage().toStdString();
        TDiagnosisRequest request;
        request.Targets = {server("host.idlix.test", kHost)};
        const std::optional<TDiagnosisResult> result = diagnose(request);
        ASSERT_TRUE(result);
        EXPECT_EQ(diagnosis::VerdictName(result->Verdict), diagnosis::VerdictName(c.verdict));
        // NetworkManager names no login page: none is offered.
        EXPECT_TRUE(result->PortalUrl.isEmpty()) << result->PortalUrl.toStdString();
        if (c.verdict == TVerdict::Portal) {
            EXPECT_EQ(result->Evidence,
                      QStringLiteral("NetworkManager says this network wants a login first (connectivity: portal)."));
        }
    }
}

} // namespace
