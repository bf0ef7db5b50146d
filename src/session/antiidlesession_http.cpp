// The anti-idle HTTP GET: one document of the probe's host into the probe
// file, timed by the millisecond stopwatch, and the texts and statistics of
// its outcome.
#include "session/antiidlesession.h"

#include "components/supertimer.h"
#include "net/httpprot.h"
#include "platform/appdir.h"
#include "platform/errcodes.h"
#include "session/webclient.h"
#include "session/webtransfer.h"

#include <QFile>
#include <QTimer>

namespace {

// Keeps the report row of a probe's own server while its result is recorded,
// even when a tick handled during the transfer has moved on to the next one.
class ServerIndexScope {
public:
    ServerIndexScope(int &index, int probeIndex) : index_(index), saved_(index)
    {
        index_ = probeIndex;
    }
    ~ServerIndexScope() { index_ = saved_; }
private:
    int &index_;
    int saved_;
};

// What a failed transfer's end says of the probe.
TProbeOutcome TransferOutcome(const TWebClient &web, TWebClient::TResult result)
{
    if (web.HttpWatchdogFired)
        return TProbeOutcome::Timeout;
    switch (web.LastRequestError) {
    case platform::kErrConnRefused:
        return TProbeOutcome::Refused;
    case platform::kErrTimedOut:
        return TProbeOutcome::Timeout;
    case platform::kErrNetUnreach:
    case platform::kErrHostUnreach:
        return TProbeOutcome::Unreachable;
    default:
        break;
    }
    if (result != TWebClient::TResult::HttpError)
        return TProbeOutcome::Failed;
    const THttpCli &cli = *web.HttpCli1;
    if (cli.ReasonPhrase() == QLatin1String(THttpCli::LookupFailedReason))
        return TProbeOutcome::LookupFailed;
    return TProbeOutcome::HttpError;
}

} // namespace

int TAntiIdleSession::HttpWatchdogLimit(bool probe) const
{
    return web_->HttpWatchdogLimit(probe ? Timer3->interval() : 0);
}

void TAntiIdleSession::HTTPTimerTimer()
{
    ++State.HttpElapsed;
}

void TAntiIdleSession::HttpProbe()
{
    if (web_->Busy()) {
        HistoryLine(QStringLiteral("HTTP GET to ") + State.CurrentHost
                    + QStringLiteral(" skipped: the previous transfer still runs"));
        return;
    }
    if (antiidle::ClientDue(web_->HttpRequestCount))
        web_->ReplaceHttpCli1(State.CurrentHost);

    // The texts and the report row belong to this probe's host even when a
    // tick handled during the transfer moves on to the next server.
    const QString host = State.CurrentHost;
    const int probeIndex = State.ServerIndex;
    const int limitMs = HttpWatchdogLimit(true);

    Status(QStringLiteral("Status: Contacting ") + host + QStringLiteral("..."));
    State.HttpElapsed = 0;
    QFile body(platform::DataFile(QLatin1String(antiidle::ProbeFileName)));
    bool ok = false;
    qint64 received = 0;
    QString reason;
    TProbeOutcome failure = TProbeOutcome::Failed;
    if (!body.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        reason = QStringLiteral("Cannot create file %1").arg(body.fileName());
    } else {
        HTTPTimer->SetEnabled(true);
        Status(QStringLiteral("Status: Connecting to ") + host);
        HistoryLine(QStringLiteral("Connecting to ") + host);
        const TWebClient::TOutcome outcome = web_->Get(host, &body, limitMs, antiidle::ProbeBodyLimit);
        HTTPTimer->SetEnabled(false);
        switch (outcome.Result) {
        case TWebClient::TResult::Done:
            body.flush();
            received = body.size();
            ok = true;
            break;
        case TWebClient::TResult::HttpError:
            reason = web_->HttpWatchdogFired ? antiidle::TimeoutReason(limitMs)
                                             : web_->HttpCli1->ReasonPhrase();
            break;
        case TWebClient::TResult::OtherError:
            reason = outcome.Error;
            break;
        }
        if (!ok)
            failure = TransferOutcome(*web_, outcome.Result);
    }
    body.close();
    // Stopped because the program ends: no answer was due yet, so the probe
    // is neither a success nor a failure (the line goes unwatched from here).
    if (!ok && web_->HttpCancelled)
        return;

    TProbeResult result;
    result.Host = host;
    result.Kind = antiidle::TProbeKind::HttpGet;
    result.ServerIndex = State.CycleMode ? probeIndex : -1;
    result.Address = web_->LastAddress;
    result.BytesSent = web_->LastBytesSent;
    result.BytesReceived = web_->LastBytesReceived;
    ServerIndexScope row(State.ServerIndex, probeIndex);
    if (ok) {
        const QString text = QStringLiteral("Received %1 bytes from ").arg(received) + host
            + QStringLiteral(" in %1ms").arg(State.HttpElapsed);
        Status(QStringLiteral("Status: ") + text);
        HistoryLine(text);
        result.Outcome = TProbeOutcome::Ok;
        result.Ms = State.HttpElapsed;
        RecordSuccess(result);
        return;
    }
    const QString text = QStringLiteral("Transfer from ") + host + QStringLiteral(" failed. ") + reason;
    Status(QStringLiteral("Status: ") + text);
    FailureLine(text);
    result.Outcome = failure;
    result.Reason = reason;
    RecordFailure(result);
}
