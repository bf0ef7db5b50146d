#include "diagnosis/routetrace.h"

#include "net/traceprobes.h"
#include "platform/ipstatus.h"
#include "platform/lookupservice.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>

namespace diagnosis {

namespace {

// A hop's own wait: the trace as a whole has five seconds.
constexpr int kHopTimeoutMs = 1000;
// The least time the names are given after a trace that used up its five seconds.
constexpr int kLeastNamingMs = 300;
// An echo's data, as small as the diagnosis' own.
constexpr int kPayload = 16;

} // namespace

TRouteTrace::TRouteTrace(QObject *parent) : QObject(parent)
{
    RouteTimer = new QTimer(this);
    RouteTimer->setObjectName(QStringLiteral("RouteTimer"));
    RouteTimer->setSingleShot(true);
    connect(RouteTimer, &QTimer::timeout, this, [this] {
        if (naming_)
            Finish();
        else
            Traced();
    });
}

TRouteTrace::~TRouteTrace()
{
    if (probes_)
        probes_->Close();
    for (unsigned handle : lookups_)
        platform::Lookups().Cancel(handle);
}

bool TRouteTrace::Start(const QString &address)
{
    platform::IpAddress dest;
    const std::string text = address.toStdString();
    if (!platform::ParseIPv6(text, dest)) {
        const std::uint32_t v4 = platform::InetAddr(text);
        if (v4 == 0xFFFFFFFFu)
            return false;
        dest = platform::IpAddress::V4(v4);
    }
    if (running_)
        return false;
    hops_ = QJsonArray();
    echoes_.assign(kMostHops, THop());
    running_ = true;
    naming_ = false;
    RouteTimer->start(kMostMs);
    // The probes' threads wake this object through its event loop; Close()
    // (a new trace, or this object going) stops them calling.
    probes_ = std::make_shared<TTraceProbes>([this] {
        QMetaObject::invokeMethod(this, [this] { TakeNotes(); }, Qt::QueuedConnection);
    });
    for (int ttl = 1; ttl <= kMostHops; ++ttl)
        if (!probes_->Send(ttl, dest, kPayload, kHopTimeoutMs, false))
            echoes_[ttl - 1].ended = true;
    TakeNotes();
    return true;
}

bool TRouteTrace::Running() const { return running_; }

void TRouteTrace::Cancel()
{
    running_ = false;
    naming_ = false;
    RouteTimer->stop();
    if (probes_)
        probes_->Close();
    probes_.reset();
    for (unsigned handle : lookups_)
        platform::Lookups().Cancel(handle);
    lookups_.clear();
}

void TRouteTrace::TakeNotes()
{
    if (!running_ || naming_ || !probes_)
        return;
    for (const TTraceProbes::TNote &note : probes_->Take()) {
        if (note.kind != TTraceProbes::TNote::Echo || note.ttl < 1 || note.ttl > kMostHops)
            continue;
        THop &hop = echoes_[note.ttl - 1];
        hop.ended = true;
        if (note.code == 0 && note.from.Valid()) {
            hop.address = QString::fromStdString(platform::AddressText(note.from));
            hop.ms = int(note.reply.RoundTripTime);
            // The target's reply, or an error that says the route ends here.
            hop.target = note.reply.Status != platform::kIpTtlExpiredTransit;
        }
    }
    // Done when every hop up to the target's first reply has ended.
    for (const THop &hop : echoes_) {
        if (!hop.ended)
            return;
        if (hop.target)
            break;
    }
    Traced();
}

void TRouteTrace::Traced()
{
    if (!running_ || naming_)
        return;
    naming_ = true;
    if (probes_)
        probes_->Close();
    probes_.reset();
    for (std::size_t i = 0; i < echoes_.size(); ++i) {
        const THop &e = echoes_[i];
        QJsonObject hop;
        hop.insert(QStringLiteral("hop"), int(i + 1));
        hop.insert(QStringLiteral("address"), e.address.isEmpty() ? QJsonValue() : QJsonValue(e.address));
        hop.insert(QStringLiteral("name"), QJsonValue());
        hop.insert(QStringLiteral("ms"), e.address.isEmpty() ? QJsonValue() : QJsonValue(e.ms));
        hops_.append(hop);
        // Nothing past the target.
        if (e.target)
            break;
    }
    // What is left of the five seconds, and at least a moment for names
    // that are at hand.
    RouteTimer->start(std::max(kLeastNamingMs, RouteTimer->isActive() ? RouteTimer->remainingTime() : 0));
    for (int i = 0; i < hops_.size(); ++i) {
        platform::IpAddress address;
        const std::string text = hops_[i].toObject().value(QStringLiteral("address")).toString().toStdString();
        if (!platform::ParseIPv6(text, address)) {
            const std::uint32_t v4 = platform::InetAddr(text);
            if (text.empty() || v4 == 0xFFFFFFFFu)
                continue;
            address = platform::IpAddress::V4(v4);
        }
        const unsigned handle = platform::Lookups().Submit(
            this, platform::TLookupRequest::ForAddress(address),
            [this, i](unsigned handle, int error, const platform::HostEntry &entry) {
                lookups_.erase(std::remove(lookups_.begin(), lookups_.end(), handle), lookups_.end());
                if (error == 0 && !entry.name.empty() && i < hops_.size()) {
                    QJsonObject hop = hops_[i].toObject();
                    hop.insert(QStringLiteral("name"), QString::fromStdString(entry.name));
                    hops_[i] = hop;
                }
                if (lookups_.empty())
                    Finish();
            });
        if (handle)
            lookups_.push_back(handle);
    }
    if (lookups_.empty())
        Finish();
}

void TRouteTrace::Finish()
{
    if (!running_)
        return;
    running_ = false;
    naming_ = false;
    RouteTimer->stop();
    for (unsigned handle : lookups_)
        platform::Lookups().Cancel(handle);
    lookups_.clear();
    if (auto told = OnDone)
        told(QString::fromUtf8(QJsonDocument(hops_).toJson(QJsonDocument::Compact)));
}

} // namespace diagnosis
