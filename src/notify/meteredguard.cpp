#include "notify/meteredguard.h"

#include "session/antiidlesession.h"

namespace {

// Hosts remembered per kind; a longer list adds nothing to the average.
constexpr int kHostsMax = 1000;

double Average(const QHash<QString, qint64> &bytes)
{
    if (bytes.isEmpty())
        return 0;
    double sum = 0;
    for (qint64 b : bytes)
        sum += double(b);
    return sum / bytes.size();
}

void Note(QHash<QString, qint64> &bytes, const QString &host, qint64 value)
{
    if (bytes.size() < kHostsMax || bytes.contains(host))
        bytes.insert(host, value);
}

} // namespace

TMeteredGuard::TMeteredGuard(TAntiIdleSession &session, const config::TOptions &options, QObject *parent)
    : QObject(parent), session_(session), options_(options)
{
    setObjectName(QStringLiteral("MeteredGuard"));
    session_.AddObserver(this);
}

TMeteredGuard::~TMeteredGuard()
{
    session_.RemoveObserver(this);
}

void TMeteredGuard::SetMetered(bool metered)
{
    if (metered == metered_)
        return;
    metered_ = metered;
    ApplyPause();
    TellOnce();
}

void TMeteredGuard::PreferencesChanged()
{
    ApplyPause();
    TellOnce();
}

void TMeteredGuard::ApplyPause()
{
    const bool want = metered_ && options_.Notify.PauseOnMetered;
    if (want == paused_)
        return;
    paused_ = want;
    if (want)
        session_.Pause(PauseReason());
    else
        session_.Resume(PauseReason());
}

notify::TProbeBytes TMeteredGuard::Measured() const
{
    return {Average(echoBytes_), Average(httpBytes_)};
}

void TMeteredGuard::SessionStarted()
{
    TellOnce();
}

void TMeteredGuard::ProbeResult(const TProbeResult &r)
{
    // What a probe costs when the line works; a lost one costs less.
    const qint64 bytes = r.BytesSent + r.BytesReceived;
    if (!r.Success() || bytes <= 0)
        return;
    if (r.Kind == session::TProbeKind::Echo)
        Note(echoBytes_, r.Host, bytes);
    else if (r.Kind == session::TProbeKind::HttpGet)
        Note(httpBytes_, r.Host, bytes);
    TellOnce();
}

void TMeteredGuard::TellOnce()
{
    // A session that does not run costs nothing.
    if (told_ || !metered_ || !session_.Started())
        return;
    const config::TAntiIdleOptions &o = options_.AntiIdle;
    const std::optional<double> perDay = notify::BytesPerDay(o, Measured());
    // The size of an HTTP GET is known only once one came back.
    if (!perDay && !paused_)
        return;
    if (perDay && *perDay <= 0)
        return;
    told_ = true;
    QString cost;
    if (perDay) {
        cost = QStringLiteral("about %1 a day at %2 (about %3 a month)")
                   .arg(notify::AboutBytes(*perDay), notify::RateText(o), notify::AboutBytes(*perDay * 30));
    }
    QString body;
    if (paused_) {
        body = QStringLiteral("Probes are paused while the connection is metered.");
        if (perDay)
            body += QStringLiteral(" Running, the keep-alive would cost ") + cost + QLatin1Char('.');
    } else {
        body = QStringLiteral("The keep-alive costs ") + cost
            + QStringLiteral(". Options > Preferences... can pause the probes on metered connections.");
    }
    if (auto handler = OnMessage)
        handler(QStringLiteral("Metered connection"), body);
}
