// Web transfers of the anti-idle session: the HTTP client with its four
// handlers, its replacement after a hundred requests, the guarded transfer
// with the watchdog that ends one the server never finishes, and the HTTP GET
// probe timed by the millisecond stopwatch.
#include "antiidle/webclient.h"

#include "antiidle/antiidle.h"
#include "antiidle/webtransfer.h"
#include "components/supertimer.h"
#include "net/httpprot.h"
#include "platform/appdir.h"
#include "shell/shellapi.h"
#include "widgets/textpane.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTextEdit>
#include <QTimer>

#include <exception>
#include <stdexcept>

namespace antiidle {

QString ServerListUrl()
{
    return QStringLiteral("http://") + QLatin1String(MakerWebHost)
        + QLatin1String(ServerListDocument);
}

int ProbeTransferLimit(int probeIntervalMs)
{
    if (probeIntervalMs <= 0)
        return DefaultTransferLimitMs;
    const int beforeNextTick = probeIntervalMs > ProbeLimitMarginMs
        ? probeIntervalMs - ProbeLimitMarginMs
        : probeIntervalMs / 2;
    return qBound(MinTransferLimitMs, beforeNextTick, DefaultTransferLimitMs);
}

QString TimeoutReason(int limitMs)
{
    const QString span = limitMs % 1000 == 0 ? QStringLiteral("%1 s").arg(limitMs / 1000)
                                             : QStringLiteral("%1 ms").arg(limitMs);
    return QStringLiteral("no complete reply within %1, transfer aborted").arg(span);
}

bool ClientDue(int requestCount)
{
    return requestCount == HttpClientLifetime;
}

} // namespace antiidle

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

} // namespace

void TWebClient::THttpCli1Deleter::operator()(THttpCli *cli) const
{
    // A transfer still running reports to no one on the way out.
    cli->OnDocBegin = nullptr;
    cli->OnDocData = nullptr;
    cli->OnDocEnd = nullptr;
    cli->OnRequestDone = nullptr;
    cli->Abort();
    delete cli;
}

TWebClient::TWebClient(IShell &shell, QObject *parent) : QObject(parent), shell_(shell)
{
    setObjectName(QStringLiteral("WebClient"));
    HttpCli1Owner.reset(CreateHttpCli1());
    HttpCli1 = HttpCli1Owner.get();
}

TWebClient::~TWebClient() = default;

THttpCli *TWebClient::CreateHttpCli1()
{
    auto *cli = new THttpCli;
    cli->setObjectName(QStringLiteral("HttpCli1"));
    cli->ProxyPort = QStringLiteral("80");
    cli->NoCache = true;
    cli->ContentTypePost = QStringLiteral("application/x-www-form-urlencoded");
    cli->SetMultiThreaded(false);
    cli->OnDocBegin = [this](THttpCli *s) { HttpCli1DocBegin(s); };
    cli->OnDocData = [this](THttpCli *s, const char *b, int n) { HttpCli1DocData(s, b, n); };
    cli->OnDocEnd = [this](THttpCli *s) { HttpCli1DocEnd(s); };
    cli->OnRequestDone = [this](THttpCli *s, THttpRequest rq, quint16 e) {
        HttpCli1RequestDone(s, rq, e);
    };
    return cli;
}

void TWebClient::ReplaceHttpCli1(const QString &url)
{
    // The fresh client goes on with the session's proxy; only settings that
    // are set once per session need carrying over.
    THttpCli *fresh = CreateHttpCli1();
    fresh->Proxy = HttpCli1->Proxy;
    fresh->ProxyPort = HttpCli1->ProxyPort;
    fresh->ProxyUsername = HttpCli1->ProxyUsername;
    fresh->ProxyPassword = HttpCli1->ProxyPassword;
    fresh->URL = url;
    HttpCli1Owner.reset(fresh);
    HttpCli1 = fresh;
    HttpRequestCount = 0;
}

void TWebClient::CopyProxySettings(const config::TProxyOptions &proxy)
{
    HttpCli1->Proxy = proxy.Server;
    HttpCli1->ProxyPort = proxy.Port;
    HttpCli1->ProxyUsername = proxy.UserName;
    HttpCli1->ProxyPassword = proxy.Password;
}

int TWebClient::HttpWatchdogLimit(int probeIntervalMs) const
{
    if (HttpWatchdogMs > 0)
        return HttpWatchdogMs;
    return antiidle::ProbeTransferLimit(probeIntervalMs);
}

bool TWebClient::Busy() const
{
    // Get keeps the message loop going, so a tick, a new session or a click
    // can come while a transfer runs. Starting another on the same client
    // would fail as busy at best and, through the replacement, destroy the
    // running client at worst.
    return HttpTransferActive || HttpCli1->State() != httpReady;
}

TWebClient::TOutcome TWebClient::Get(const QString &url, QIODevice *sink, int limitMs,
                                     qint64 bodyLimit)
{
    TOutcome outcome;
    HttpCli1->URL = url;
    HttpCli1->ReceiveStream = sink;
    HttpCli1->BodyLimit = bodyLimit;
    HttpTransferActive = true;
    HttpWatchdogFired = false;
    QPointer<THttpCli> cli(HttpCli1);
    QTimer watchdog;
    watchdog.setObjectName(QStringLiteral("HttpWatchdog"));
    watchdog.setSingleShot(true);
    watchdog.setTimerType(Qt::PreciseTimer);
    connect(&watchdog, &QTimer::timeout, this, [this, cli] {
        if (!cli || cli->State() == httpReady)
            return;
        HttpWatchdogFired = true;
        cli->Abort();
    });
    watchdog.start(limitMs);
    try {
        HttpCli1->Get();
    } catch (const EHttpException &) {
        outcome.Result = TResult::HttpError;
    } catch (const std::exception &e) {
        outcome.Result = TResult::OtherError;
        outcome.Error = QString::fromUtf8(e.what());
    }
    HttpCli1->ReceiveStream = nullptr;
    HttpTransferActive = false;
    return outcome;
}

void TWebClient::HttpCli1DocBegin(THttpCli *)
{
    shell_.SetStatus(QStringLiteral("Status: Receiving file..."), true);
}

void TWebClient::HttpCli1DocData(THttpCli *Sender, const char *, int)
{
    shell_.SetStatus(QStringLiteral("Status: Received %1 bytes...").arg(Sender->ReceivedCount()), true);
}

void TWebClient::HttpCli1DocEnd(THttpCli *)
{
    shell_.SetStatus(QStringLiteral("Status: Update finished."), true);
}

void TWebClient::HttpCli1RequestDone(THttpCli *, quint8, quint16)
{
    ++HttpRequestCount;
    shell_.SetStatus(QStringLiteral("Status: Update finished."), true);
}

int TAntiIdle::HttpWatchdogLimit(bool probe) const
{
    return web_.HttpWatchdogLimit(probe ? Timer3->interval() : 0);
}

void TAntiIdle::HTTPTimerTimer()
{
    ++HttpElapsed;
}

void TAntiIdle::HttpProbe()
{
    QTextEdit *history = shell_.History();
    if (web_.Busy()) {
        AddPaneLine(history, TLineStyle::Bulleted, QStringLiteral("HTTP GET to ") + CurrentHost
                        + QStringLiteral(" skipped: the previous transfer still runs"));
        return;
    }
    if (antiidle::ClientDue(web_.HttpRequestCount))
        web_.ReplaceHttpCli1(CurrentHost);

    // The texts and the report row belong to this probe's host even when a
    // tick handled during the transfer moves on to the next server.
    const QString host = CurrentHost;
    const int probeIndex = ServerIndex;
    const int limitMs = HttpWatchdogLimit(true);

    shell_.SetStatus(QStringLiteral("Status: Contacting ") + host + QStringLiteral("..."));
    HttpElapsed = 0;
    QFile body(platform::DataFile(QLatin1String(antiidle::ProbeFileName)));
    bool ok = false;
    qint64 received = 0;
    QString reason;
    if (!body.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        reason = QStringLiteral("Cannot create file %1").arg(body.fileName());
    } else {
        HTTPTimer->SetEnabled(true);
        shell_.SetStatus(QStringLiteral("Status: Connecting to ") + host);
        AddPaneLine(history, TLineStyle::Bulleted, QStringLiteral("Connecting to ") + host);
        const TWebClient::TOutcome outcome = web_.Get(host, &body, limitMs,
                                                      antiidle::ProbeBodyLimit);
        HTTPTimer->SetEnabled(false);
        switch (outcome.Result) {
        case TWebClient::TResult::Done:
            body.flush();
            received = body.size();
            ok = true;
            break;
        case TWebClient::TResult::HttpError:
            reason = web_.HttpWatchdogFired ? antiidle::TimeoutReason(limitMs)
                                            : web_.HttpCli1->ReasonPhrase();
            break;
        case TWebClient::TResult::OtherError:
            reason = outcome.Error;
            break;
        }
    }
    body.close();

    shell_.Info().PingLight->hide();
    ServerIndexScope row(ServerIndex, probeIndex);
    if (ok) {
        const QString text = QStringLiteral("Received %1 bytes from ").arg(received) + host
            + QStringLiteral(" in %1ms").arg(HttpElapsed);
        shell_.SetStatus(QStringLiteral("Status: ") + text);
        AddPaneLine(history, TLineStyle::Bulleted, text);
        RecordSuccess(HttpElapsed);
    } else {
        const QString text = QStringLiteral("Transfer from ") + host
            + QStringLiteral(" failed. ") + reason;
        shell_.SetStatus(QStringLiteral("Status: ") + text);
        AddPaneLine(history, TLineStyle::Bulleted, text);
        RecordFailure();
    }
}
