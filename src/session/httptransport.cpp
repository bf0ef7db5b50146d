#include "session/httptransport.h"

#include "components/supertimer.h"
#include "net/httpcli.h"
#include "platform/appdir.h"
#include "session/tcpconnect.h"
#include "session/webclient.h"
#include "session/webtransfer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace {

// What a failed transfer's end says of the probe.
TProbeOutcome TransferOutcome(const TWebClient &web, TWebClient::TResult result)
{
    if (web.HttpWatchdogFired)
        return TProbeOutcome::Timeout;
    // The connection's own end says it first, as a tcp:// probe's would.
    if (const TProbeOutcome connect = session::ConnectOutcome(web.LastRequestError); connect != TProbeOutcome::Failed)
        return connect;
    if (result != TWebClient::TResult::HttpError)
        return TProbeOutcome::Failed;
    const THttpCli &cli = *web.HttpCli1;
    if (cli.ReasonPhrase() == QLatin1String(THttpCli::LookupFailedReason))
        return TProbeOutcome::LookupFailed;
    return TProbeOutcome::HttpError;
}

} // namespace

THttpTransport::THttpTransport(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("HttpTransport"));
    web_ = new TWebClient(this);
    timer_ = new TSuperTimer(this);
    timer_->setObjectName(QStringLiteral("HTTPTimer"));
    timer_->SetInterval(1);
    timer_->SetThreadPriority(QThread::TimeCriticalPriority);
    timer_->OnTimer = [this] { ++elapsed_; };
}

bool THttpTransport::Busy() const
{
    return web_->Busy();
}

void THttpTransport::Cancel()
{
    web_->Cancel();
}

void THttpTransport::Send(const probe::TRequest &request, probe::TEvents events)
{
    if (session::ClientDue(web_->HttpRequestCount))
        web_->ReplaceHttpCli1(request.Target);
    const int limitMs = web_->HttpWatchdogMs > 0 ? web_->HttpWatchdogMs
        : request.TimeoutMs > 0                  ? request.TimeoutMs
                                                 : session::DefaultTransferLimitMs;
    const qint64 bodyLimit = request.BodyLimit > 0 ? request.BodyLimit : session::ProbeBodyLimit;

    elapsed_ = 0;
    probe::TReply reply;
    QFile body(platform::DataFile(QLatin1String(session::ProbeFileName)));
    if (!body.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        reply.Reason = QStringLiteral("Cannot create file %1").arg(body.fileName());
        events.Done(reply);
        return;
    }
    timer_->SetEnabled(true);
    // The stopwatch's count is the designed figure; the monotonic clock's,
    // to the microsecond, is what the history and the metrics keep.
    QElapsedTimer clock;
    clock.start();
    if (events.Sending)
        events.Sending(request.Target);
    const TWebClient::TOutcome outcome = web_->Get(request.Target, &body, limitMs, bodyLimit);
    timer_->SetEnabled(false);
    bool ok = false;
    switch (outcome.Result) {
    case TWebClient::TResult::Done:
        body.flush();
        reply.BodyBytes = body.size();
        ok = true;
        break;
    case TWebClient::TResult::HttpError:
        reply.Reason = web_->HttpWatchdogFired ? session::TimeoutReason(limitMs) : web_->HttpCli1->ReasonPhrase();
        break;
    case TWebClient::TResult::OtherError:
        reply.Reason = outcome.Error;
        break;
    }
    body.close();
    reply.Address = web_->LastAddress;
    reply.BytesSent = web_->LastBytesSent;
    reply.BytesReceived = web_->LastBytesReceived;
    if (ok) {
        reply.Outcome = TProbeOutcome::Ok;
        reply.Ms = elapsed_;
        reply.Us = clock.nsecsElapsed() / 1000;
    } else {
        // Stopped because the program ends: no answer was due yet.
        reply.Cancelled = web_->HttpCancelled;
        reply.Outcome = TransferOutcome(*web_, outcome.Result);
    }
    events.Done(reply);
}
