#include "diagnosis/ladder.h"

#include "bus/connectivity.h"
#include "net/httpparse.h"
#include "platform/httpexchange.h"
#include "platform/icmpecho.h"
#include "platform/monoclock.h"
#include "platform/netroutes.h"
#include "platform/resolver.h"

#include <QStringList>

#include <algorithm>
#include <cstring>
#include <optional>
#include <system_error>
#include <thread>

namespace diagnosis {

using platform::Family;
using platform::IpAddress;

namespace {

// An echo's data: enough to tell ours apart, little to send.
constexpr int kPayload = 16;
// The hops past the router that speak for the provider's network.
constexpr int kProviderHops = 3;
// The TTL of an echo meant for its destination.
constexpr int kFullTtl = 64;

// One echo and how it went.
struct TEcho {
    IpAddress Dest;
    int Ttl = kFullTtl;
    bool Reply = false;      // the destination's own echo reply came
    bool Answered = false;   // somebody answered: the reply, or a router's ICMP error
    IpAddress From;          // who answered
    std::int64_t RttUs = -1;
};

TEcho EchoTo(const IpAddress &dest, int ttl = kFullTtl)
{
    TEcho echo;
    echo.Dest = dest;
    echo.Ttl = ttl;
    return echo;
}

int EchoBytes(const IpAddress &dest) { return (dest.IsV6() ? 40 : 20) + 8 + kPayload; }

// What the resolver sends for a name, at least: one question for A and one
// for AAAA, each a DNS header, the name and its type and class over UDP.
int LookupBytes(const std::string &host) { return 2 * (20 + 8 + 12 + int(host.size()) + 2 + 4); }

void SendOne(TEcho &echo, int timeoutMs)
{
    const platform::IcmpHandle handle =
        echo.Dest.IsV6() ? platform::Icmp6CreateFile() : platform::IcmpCreateFile();
    if (handle == platform::kInvalidIcmpHandle)
        return;
    platform::IpOptionInformation options;
    options.Ttl = std::uint8_t(echo.Ttl);
    platform::IcmpEchoReply reply;
    char data[kPayload] = {};
    std::memcpy(data, "idlix diagnosis", 15);
    IpAddress from;
    const int got = platform::IcmpSendEchoTo(handle, echo.Dest, data, kPayload, &options, &reply,
                                             timeoutMs, &from);
    echo.RttUs = platform::IcmpLastRoundTripUs();
    echo.Answered = platform::IcmpAnswered(reply);
    echo.Reply = got == 1;
    if (!from.Valid() && echo.Answered && echo.Dest.IsV4())
        from = IpAddress::V4(reply.Address);
    echo.From = from;
    platform::IcmpCloseHandle(handle);
}

// Sends every echo at once, each on a thread of its own (the echo service
// blocks), and returns when all have ended: within about timeoutMs.
int EchoAll(std::vector<TEcho> &echoes, int timeoutMs)
{
    std::vector<std::thread> threads;
    int bytes = 0;
    for (TEcho &echo : echoes) {
        bytes += EchoBytes(echo.Dest);
        try {
            threads.emplace_back([&echo, timeoutMs] { SendOne(echo, timeoutMs); });
        } catch (const std::system_error &) {
            SendOne(echo, timeoutMs);   // no thread to be had: one after the other
        }
    }
    for (std::thread &t : threads)
        t.join();
    return bytes;
}

QString Text(const IpAddress &address) { return QString::fromStdString(platform::AddressText(address)); }
// "1.2 ms"; below a millisecond (a router on the same cable) "0.05 ms".
QString Ms(std::int64_t us)
{
    return QString::number(double(us) / 1000.0, 'f', us < 1000 ? 2 : 1) + QStringLiteral(" ms");
}
QString FamilyName(Family family) { return family == Family::IPv6 ? QStringLiteral("IPv6") : QStringLiteral("IPv4"); }
QString Seconds(int ms) { return QString::number(double(ms) / 1000.0, 'g', 2) + QStringLiteral(" s"); }

std::vector<IpAddress> AddressesOf(const std::vector<TDiagnosisRequest::TServer> &servers, Family family)
{
    std::vector<IpAddress> out;
    for (const TDiagnosisRequest::TServer &s : servers)
        if (s.LastAddress.family == family &&
            std::find(out.begin(), out.end(), s.LastAddress) == out.end())
            out.push_back(s.LastAddress);
    return out;
}

// What one family's climb found.
struct TFinding {
    TVerdict Verdict = TVerdict::Unknown;
    QString Evidence;
    bool Fine = false;   // every check answered
    int Bytes = 0;
    QString PortalUrl;   // a portal's login page, where its redirect named one
};

TFinding Found(TVerdict verdict, QString evidence) { return {verdict, std::move(evidence), false, 0, {}}; }

// The link when the family has no default route: the interfaces say why.
TFinding NoRoute(Family family, const std::vector<platform::TInterface> &interfaces)
{
    const QString none = QStringLiteral("There is no %1 route out").arg(FamilyName(family));
    QStringList off, dark, up;
    for (const platform::TInterface &i : interfaces) {
        if (i.Loopback)
            continue;
        const QString name = QString::fromStdString(i.Name);
        (!i.Up ? off : !i.Carrier ? dark : up) << name;
    }
    if (!up.isEmpty())
        return Found(TVerdict::Link, none + QStringLiteral(" (%1 is up).").arg(up.join(QStringLiteral(", "))));
    if (!dark.isEmpty())
        return Found(TVerdict::Link, none + QStringLiteral(": %1 has no carrier.").arg(dark.join(QStringLiteral(", "))));
    if (!off.isEmpty())
        return Found(TVerdict::Link, none + QStringLiteral(": %1 is switched off.").arg(off.join(QStringLiteral(", "))));
    return Found(TVerdict::Link, none + QStringLiteral(": this machine has no network interface."));
}

// The route's own interface, when it cannot carry the family.
std::optional<TFinding> LinkFault(Family family, const platform::TDefaultRoute &route)
{
    for (const platform::TInterface &i : platform::Interfaces()) {
        if (i.Name != route.Device)
            continue;
        const QString name = QString::fromStdString(i.Name);
        if (!i.Up)
            return Found(TVerdict::Link, QStringLiteral("The interface %1 is switched off.").arg(name));
        if (!i.Carrier)
            return Found(TVerdict::Link, QStringLiteral("The interface %1 has no carrier (cable or radio link lost).").arg(name));
        if (!(family == Family::IPv4 ? i.HasV4 : i.HasV6))
            return Found(TVerdict::Link, QStringLiteral("The interface %1 has no %2 address.").arg(name, FamilyName(family)));
    }
    return std::nullopt;
}

// The probed names as the resolver answered them, waiting for them no later
// than the request's time-out after the start.
std::vector<TRun::TName> AnsweredNames(TRun &run)
{
    std::unique_lock<std::mutex> lk(run.Lock);
    const std::int64_t deadline = run.StartNs + std::int64_t(run.Request.LookupTimeoutMs) * 1000000;
    auto allDone = [&run] {
        return std::all_of(run.Names.begin(), run.Names.end(), [](const TRun::TName &n) { return n.Done; });
    };
    while (!run.Closed && !allDone())
        if (platform::WaitUntilNs(run.Changed, lk, deadline))
            break;
    return run.Names;
}

const TEcho *FirstReply(const std::vector<TEcho> &echoes, const std::vector<IpAddress> &among)
{
    for (const TEcho &e : echoes)
        if (e.Reply && std::find(among.begin(), among.end(), e.Dest) != among.end())
            return &e;
    return nullptr;
}

QStringList Silent(const std::vector<TEcho> &echoes, const std::vector<IpAddress> &among)
{
    QStringList out;
    for (const TEcho &e : echoes)
        if (!e.Reply && std::find(among.begin(), among.end(), e.Dest) != among.end())
            out << Text(e.Dest);
    return out;
}

// The ends of the ladder: the name service, then the targets against the
// other servers. 'beyond' says what answered before.
TFinding Ends(Family family, TRun &run, const QString &beyond)
{
    const TDiagnosisRequest &rq = run.Request;
    const std::vector<IpAddress> targets = AddressesOf(rq.Targets, family);
    const std::vector<IpAddress> others = AddressesOf(rq.Others, family);
    std::vector<TEcho> echoes;
    for (const std::vector<IpAddress> *list : {&targets, &others})
        for (const IpAddress &a : *list)
            echoes.push_back(EchoTo(a));
    TFinding out;
    out.Bytes = EchoAll(echoes, rq.EchoTimeoutMs);

    const TEcho *target = FirstReply(echoes, targets);
    const TEcho *other = FirstReply(echoes, others);
    // The name service is at fault only when an address the names had
    // still answers: without one, the silence is the addresses' as well.
    const TEcho *known = target ? target : other;
    for (const TRun::TName &n : AnsweredNames(run)) {
        if (!known || (n.Done && n.Error == 0))
            continue;
        const QString why = n.Done ? QStringLiteral("it fails with code %1").arg(n.Error)
                                   : QStringLiteral("no answer in %1").arg(Seconds(rq.LookupTimeoutMs));
        out.Verdict = TVerdict::Dns;
        out.Evidence = QStringLiteral("The name service does not answer for %1 (%2); %3 answers in %4.")
                           .arg(QString::fromStdString(n.Host), why, Text(known->Dest), Ms(known->RttUs));
        return out;
    }

    const QStringList silentTargets = Silent(echoes, targets);
    const QStringList silentOthers = Silent(echoes, others);
    if (silentTargets.isEmpty()) {
        out.Fine = true;
        out.Evidence = QStringLiteral("Everything answers now: %1.").arg(beyond);
        if (target)
            out.Evidence = QStringLiteral("Everything answers now: %1; %2 in %3.").arg(beyond, Text(target->Dest), Ms(target->RttUs));
        return out;
    }
    const QString silent = (silentTargets + silentOthers).join(QStringLiteral(", "));
    if (others.empty()) {
        out.Evidence = QStringLiteral("%1; %2 does not answer, and there is no other server to compare with.")
                           .arg(beyond, silentTargets.join(QStringLiteral(", ")));
    } else if (!other) {
        out.Evidence = QStringLiteral("%1; nothing farther does (%2 silent).").arg(beyond, silent);
    } else {
        out.Verdict = silentOthers.isEmpty() && !target ? TVerdict::Target : TVerdict::Partial;
        out.Evidence = QStringLiteral("%1 %2 not answer; %3 does (%4).")
                           .arg(silent, silentTargets.size() + silentOthers.size() > 1 ? QStringLiteral("do") : QStringLiteral("does"),
                                Text(other->Dest), Ms(other->RttUs));
    }
    return out;
}

// The portal check's wait for the HTTP reply's head.
constexpr int kPortalTimeoutMs = 1500;
// The longest login page address kept: it comes from whoever answers.
constexpr int kPortalUrlMax = 2000;

// What the portal check found: nothing, or why the network wants a login.
struct TPortal {
    bool Found = false;
    QString Evidence;
    int Bytes = 0;
    QString Url;   // where the redirect sends the user (its Location); empty when not told
};

// What a reply's head says: its status, and where it sends the client.
struct TReplyHead {
    int Status = 0;    // 0 when the status line is no HTTP one
    QString Location;  // empty when none
};

TReplyHead ReadHead(const std::string &head)
{
    TReplyHead out;
    const QList<QByteArray> lines = QByteArray::fromStdString(head).split('\n');
    QString reason;
    if (ParseStatusLine(lines.front().trimmed(), out.Status, reason) != TStatusLine::Valid)
        return {};
    for (const QByteArray &line : lines) {
        QByteArray name;
        QString value;
        if (SplitHeaderLine(line.trimmed(), name, value) && name == "location") {
            out.Location = value.trimmed();
            break;
        }
    }
    return out;
}

// A redirect's address as a login page to offer: an overlong one is told in
// the evidence, cut, but not offered.
QString Offered(const QString &location) { return location.size() <= kPortalUrlMax ? location : QString(); }

// A login page standing in for the server: the HTTP request for "/" of the
// server, by its own name, gets a redirect to another host.
TPortal HttpPortal(const TDiagnosisRequest::TServer &server)
{
    TPortal out;
    const QString address = Text(server.LastAddress);
    const QString host = server.Host.empty() ? address : QString::fromStdString(server.Host);
    const std::string request = ("GET / HTTP/1.1\r\nHost: " + HostHeaderText(host) +
                                 "\r\nUser-Agent: Idlix\r\nConnection: close\r\n\r\n").toStdString();
    out.Bytes = (server.LastAddress.IsV6() ? 40 : 20) + 20 + int(request.size());
    std::string head;
    if (platform::HttpExchange(server.LastAddress, 80, request, &head, kPortalTimeoutMs) != 0)
        return out;
    const TReplyHead reply = ReadHead(head);
    if (reply.Status < 300 || reply.Status > 399 || reply.Location.isEmpty())
        return out;
    const QString to = SplitUrl(reply.Location).Host.toLower();
    // A redirect within the server itself ("/index.html") is its own business.
    if (to.isEmpty() || to == host.toLower() || to == address || to == QLatin1Char('[') + address + QLatin1Char(']'))
        return out;
    out.Found = true;
    out.Url = Offered(reply.Location);
    out.Evidence =
        QStringLiteral("A login page answers for %1: %2 (HTTP %3).").arg(host, reply.Location.left(200)).arg(reply.Status);
    return out;
}

// The user's check page: a redirect elsewhere, or a reply without the text
// it always holds, is something standing in for it. No answer at all says
// nothing of a portal (the other steps tell that).
TPortal CheckPage(const TDiagnosisRequest::TCheck &check)
{
    TPortal out;
    const TUrlParts url = SplitUrl(check.Url);
    const int port = url.Port.isEmpty() ? 80 : url.Port.toInt();
    if (port <= 0 || port > 65535)
        return out;
    const QString hostField = url.Port.isEmpty() ? url.Host : url.Host + QLatin1Char(':') + url.Port;
    const std::string request = ("GET " + (url.Path.isEmpty() ? QStringLiteral("/") : url.Path) +
                                 " HTTP/1.1\r\nHost: " + hostField +
                                 "\r\nUser-Agent: Idlix\r\nConnection: close\r\n\r\n").toStdString();
    out.Bytes = (check.Address.IsV6() ? 40 : 20) + 20 + int(request.size());
    std::string head, body;
    if (platform::HttpExchange(check.Address, std::uint16_t(port), request, &head, kPortalTimeoutMs, &body) != 0)
        return out;
    const TReplyHead reply = ReadHead(head);
    if (reply.Status >= 300 && reply.Status <= 399 && !reply.Location.isEmpty()) {
        out.Found = true;
        out.Url = Offered(reply.Location);
        out.Evidence = QStringLiteral("The check page %1 is sent to %2 (HTTP %3).")
                           .arg(check.Url, reply.Location.left(200))
                           .arg(reply.Status);
    } else if (!QString::fromUtf8(body).contains(check.Expect)) {
        out.Found = true;
        out.Evidence = QStringLiteral("The check page %1 does not hold \"%2\" (HTTP %3): something else answers for it.")
                           .arg(check.Url, check.Expect)
                           .arg(reply.Status);
    }
    return out;
}

TPortal PortalCheck(const TDiagnosisRequest::TServer *server, const TDiagnosisRequest::TCheck &check, Family family)
{
    if (bus::NetworkManagerConnectivity() == bus::TConnectivity::Portal)
        return {true, QStringLiteral("NetworkManager says this network wants a login first (connectivity: portal)."), 0, {}};
    // The user's page, where set, is the surer word: its reply is known.
    if (!check.Url.isEmpty() && check.Address.family == family)
        return CheckPage(check);
    return server ? HttpPortal(*server) : TPortal{};
}

// The first server of the family, targets first, that the portal check asks.
const TDiagnosisRequest::TServer *FirstServer(const TDiagnosisRequest &rq, Family family)
{
    for (const auto *list : {&rq.Targets, &rq.Others})
        for (const TDiagnosisRequest::TServer &s : *list)
            if (s.LastAddress.family == family)
                return &s;
    return nullptr;
}

// One family's ladder, from the interface outwards.
TFinding Climb(Family family, TRun &run)
{
    const TDiagnosisRequest &rq = run.Request;
    if (rq.Line.Known && !rq.Line.Connected)
        return Found(TVerdict::Link, QStringLiteral("The dial-up line %1 is not connected.").arg(rq.Line.Name));
    platform::TDefaultRoute route;
    if (!platform::DefaultRoute(family, route))
        return NoRoute(family, platform::Interfaces());
    if (std::optional<TFinding> fault = LinkFault(family, route))
        return *fault;
    if (rq.LocalOnly) {
        const QString via = route.Gateway.Valid() ? QStringLiteral(" via %1").arg(Text(route.Gateway)) : QString();
        return Found(TVerdict::Unknown, QStringLiteral("The interface %1 is up (%2%3); no server was reached over the "
                                                       "line to check past it.")
                                            .arg(QString::fromStdString(route.Device), FamilyName(family), via));
    }

    int bytes = 0;
    QString near;   // the nearest thing that answers, for the evidence
    if (route.Gateway.Valid()) {
        std::vector<TEcho> gateway{EchoTo(route.Gateway)};
        bytes += EchoAll(gateway, rq.EchoTimeoutMs);
        if (!gateway[0].Reply) {
            QString text = QStringLiteral("The router %1 does not answer (no echo in %2)")
                               .arg(Text(route.Gateway), Seconds(rq.EchoTimeoutMs));
            if (platform::NeighbourState(route.Gateway) == platform::TNeighbour::Incomplete)
                text += QStringLiteral("; its hardware address is unknown");
            TFinding f = Found(TVerdict::Gateway, text + QLatin1Char('.'));
            f.Bytes = bytes;
            return f;
        }
        near = QStringLiteral("The router %1 answers in %2").arg(Text(route.Gateway), Ms(gateway[0].RttUs));
    } else {
        near = QStringLiteral("The line on %1 is up").arg(QString::fromStdString(route.Device));
    }

    // Past the router: towards the first target and the first other server,
    // so that a silent target right behind the router is not taken for the
    // provider.
    std::vector<IpAddress> far = AddressesOf(rq.Targets, family);
    far.resize(std::min<std::size_t>(far.size(), 1));
    for (const IpAddress &a : AddressesOf(rq.Others, family))
        if (far.size() < 2 && std::find(far.begin(), far.end(), a) == far.end())
            far.push_back(a);
    const int firstHop = route.Gateway.Valid() ? 2 : 1;
    QString beyond = near;
    // A captive portal beside the provider's echoes: it may let them through
    // or not, and only HTTP (or NetworkManager) tells it.
    TPortal portal;
    std::thread portalCheck;
    const TDiagnosisRequest::TServer *asked = FirstServer(rq, family);
    try {
        portalCheck = std::thread([&portal, asked, &rq, family] { portal = PortalCheck(asked, rq.Check, family); });
    } catch (const std::system_error &) {
        portal = PortalCheck(asked, rq.Check, family);
    }
    const auto portalFound = [&]() -> std::optional<TFinding> {
        if (portalCheck.joinable())
            portalCheck.join();
        bytes += portal.Bytes;
        if (!portal.Found)
            return std::nullopt;
        TFinding f = Found(TVerdict::Portal, portal.Evidence);
        f.Bytes = bytes;
        f.PortalUrl = portal.Url;
        return f;
    };
    if (!far.empty()) {
        std::vector<TEcho> hops;
        for (const IpAddress &dest : far)
            for (int ttl = firstHop; ttl < firstHop + kProviderHops; ++ttl)
                hops.push_back(EchoTo(dest, ttl));
        bytes += EchoAll(hops, rq.EchoTimeoutMs);
        if (std::optional<TFinding> f = portalFound())
            return *f;
        const TEcho *nearest = nullptr;
        for (const TEcho &e : hops)
            if (e.Answered && (!nearest || e.Ttl < nearest->Ttl))
                nearest = &e;
        if (!nearest) {
            TFinding f = Found(TVerdict::Provider, QStringLiteral("%1; nothing past it does (hop %2 silent).").arg(near).arg(firstHop));
            f.Bytes = bytes;
            return f;
        }
        beyond = QStringLiteral("%1; hop %2 (%3) answers").arg(near).arg(nearest->Ttl).arg(Text(nearest->From));
    } else if (std::optional<TFinding> f = portalFound()) {
        return *f;
    }
    TFinding f = Ends(family, run, beyond);
    f.Bytes += bytes;
    return f;
}

// The families to climb: those of the servers' known addresses, else those
// that have a way out, else IPv4 (whose missing route the link step tells).
std::vector<Family> FamiliesInUse(const TDiagnosisRequest &rq)
{
    std::vector<Family> out;
    for (Family f : {Family::IPv4, Family::IPv6})
        if (!AddressesOf(rq.Targets, f).empty() || !AddressesOf(rq.Others, f).empty())
            out.push_back(f);
    if (out.empty()) {
        platform::TDefaultRoute route;
        for (Family f : {Family::IPv4, Family::IPv6})
            if (platform::DefaultRoute(f, route))
                out.push_back(f);
    }
    if (out.empty())
        out.push_back(Family::IPv4);
    return out;
}

} // namespace

std::vector<std::string> ProbedNames(const TDiagnosisRequest &request)
{
    std::vector<std::string> out;
    for (const TDiagnosisRequest::TServer &s : request.Targets) {
        IpAddress literal;
        const bool address = platform::InetAddr(s.Host) != 0xFFFFFFFFu || platform::ParseIPv6(s.Host, literal);
        if (!s.Host.empty() && !address && std::find(out.begin(), out.end(), s.Host) == out.end())
            out.push_back(s.Host);
    }
    return out;
}

TDiagnosisResult RunLadder(TRun &run)
{
    const std::vector<Family> families = FamiliesInUse(run.Request);
    std::vector<TFinding> found(families.size());
    {
        std::vector<std::thread> climbs;
        for (std::size_t i = 0; i < families.size(); ++i) {
            try {
                climbs.emplace_back([&found, &families, &run, i] { found[i] = Climb(families[i], run); });
            } catch (const std::system_error &) {
                found[i] = Climb(families[i], run);
            }
        }
        for (std::thread &t : climbs)
            t.join();
    }

    TDiagnosisResult result;
    const auto fine = std::find_if(found.begin(), found.end(), [](const TFinding &f) { return f.Fine; });
    const auto fault = std::find_if(found.begin(), found.end(), [](const TFinding &f) { return !f.Fine; });
    if (fault == found.end()) {
        result.Evidence = found.front().Evidence;
    } else if (fine != found.end()) {
        result.Verdict = TVerdict::Partial;
        result.Evidence = QStringLiteral("%1 works; %2: %3")
                              .arg(FamilyName(families[fine - found.begin()]),
                                   FamilyName(families[fault - found.begin()]), fault->Evidence);
    } else {
        result.Verdict = fault->Verdict;
        result.Evidence = fault->Evidence;
        result.PortalUrl = fault->PortalUrl;
    }
    for (const TFinding &f : found)
        result.BytesSent += f.Bytes;
    for (const TRun::TName &n : run.Names)
        result.BytesSent += LookupBytes(n.Host);
    result.ElapsedMs = (platform::MonoNowNs() - run.StartNs) / 1000000;
    return result;
}

} // namespace diagnosis
