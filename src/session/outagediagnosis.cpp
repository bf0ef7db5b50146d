#include "session/outagediagnosis.h"

#include "platform/resolver.h"

#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <array>

namespace {

// The first re-check comes a second after the first verdict.
constexpr int kFirstPauseMs = 1000;
// Other servers asked whether they answer: enough to tell "only the target"
// from "everything", few enough to stay small on the wire.
constexpr int kMostOthers = 3;

platform::IpAddress ParsedAddress(const QString &text)
{
    platform::IpAddress a;
    const std::string s = text.toStdString();
    if (platform::ParseIPv6(s, a))
        return a;
    const std::uint32_t v4 = platform::InetAddr(s);
    return v4 == 0xFFFFFFFFu ? platform::IpAddress{} : platform::IpAddress::V4(v4);
}

// An address that leaves this machine: not 127/8, not ::1.
bool OverTheLine(const platform::IpAddress &a)
{
    static const std::array<std::uint8_t, 16> kLoopback6{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return a.IsV4() ? a.bytes[0] != 127 : a.IsV6() && a.bytes != kLoopback6;
}

diagnosis::TDiagnosisRequest::TServer Server(const QString &host, const std::function<QString(const QString &)> &lastAddress)
{
    return {host.toStdString(), lastAddress ? ParsedAddress(lastAddress(host)) : platform::IpAddress{}};
}

} // namespace

diagnosis::TDiagnosisRequest OutageRequest(const TOutage &outage, const QStringList &servers,
                                           const std::function<QString(const QString &)> &lastAddress,
                                           const config::TDiagnosisOptions &user)
{
    const QStringList &anchors = user.Anchors;
    diagnosis::TDiagnosisRequest request;
    for (const QString &host : outage.HostsTried)
        request.Targets.push_back(Server(host, lastAddress));
    // The anchors first: the user chose them to answer when the line is up.
    // One whose address is not known yet (a name not looked up) cannot be
    // asked and is left out rather than counted silent.
    for (const QString &host : anchors) {
        diagnosis::TDiagnosisRequest::TServer anchor = Server(host, lastAddress);
        if (!anchor.LastAddress.Valid())
            anchor.LastAddress = ParsedAddress(host);
        if (anchor.LastAddress.Valid() && !outage.HostsTried.contains(host))
            request.Others.push_back(anchor);
    }
    for (int listed = 0; const QString &host : servers) {
        if (listed >= kMostOthers)
            break;
        if (!host.trimmed().isEmpty() && !outage.HostsTried.contains(host) && !anchors.contains(host)) {
            request.Others.push_back(Server(host, lastAddress));
            ++listed;
        }
    }
    if (!user.CheckUrl.isEmpty()) {
        const QString host = QUrl(user.CheckUrl).host();
        const diagnosis::TDiagnosisRequest::TServer page = Server(host, lastAddress);
        request.Check.Url = user.CheckUrl;
        request.Check.Expect = user.CheckExpect;
        request.Check.Address = page.LastAddress.Valid() ? page.LastAddress : ParsedAddress(host);
    }
    bool over = false;
    for (const auto *list : {&request.Targets, &request.Others})
        for (const diagnosis::TDiagnosisRequest::TServer &s : *list)
            over = over || OverTheLine(s.LastAddress);
    request.LocalOnly = !over;
    return request;
}

TOutageDiagnosis::TOutageDiagnosis(QObject *parent) : QObject(parent)
{
    DiagnosisTimer = new QTimer(this);
    DiagnosisTimer->setObjectName(QStringLiteral("DiagnosisTimer"));
    DiagnosisTimer->setSingleShot(true);
    connect(DiagnosisTimer, &QTimer::timeout, this, &TOutageDiagnosis::Run);
    diagnosis_.OnDone = [this](const diagnosis::TDiagnosisResult &r) { Done(r); };
    route_.OnDone = [this](const QString &hops) {
        if (auto told = OnRoute)
            told(hops);
    };
}

void TOutageDiagnosis::SetEnabled(bool enabled)
{
    if (!enabled)
        Stop();
    enabled_ = enabled;
}

void TOutageDiagnosis::LineDown(const diagnosis::TDiagnosisRequest &request, int ceilingMs)
{
    if (!enabled_)
        return;
    request_ = request;
    down_ = true;
    pauseMs_ = kFirstPauseMs;
    ceilingMs_ = std::max(kFirstPauseMs, ceilingMs);
    diagnosis_.Cancel();
    Run();
    route_.Cancel();
    if (!request.LocalOnly && !request.Targets.empty() && request.Targets.front().LastAddress.Valid())
        route_.Start(QString::fromStdString(platform::AddressText(request.Targets.front().LastAddress)));
}

void TOutageDiagnosis::LineUp(const diagnosis::TDiagnosisRequest &request)
{
    if (!enabled_)
        return;
    request_ = request;
    down_ = false;
    DiagnosisTimer->stop();
    diagnosis_.Cancel();
    Run();
}

void TOutageDiagnosis::Stop()
{
    down_ = false;
    DiagnosisTimer->stop();
    diagnosis_.Cancel();
    route_.Cancel();
}

void TOutageDiagnosis::Run()
{
    runDown_ = down_;
    diagnosis_.Start(request_);
}

void TOutageDiagnosis::Done(const diagnosis::TDiagnosisResult &result)
{
    const bool down = runDown_;
    if (down_) {
        DiagnosisTimer->start(pauseMs_);
        pauseMs_ = std::min(pauseMs_ * 2, ceilingMs_);
    }
    if (auto told = OnVerdict)
        told(result, down);
}
