// The HTTP client of the anti-idle session and the server list download: the
// client with its four handlers, its replacement after a hundred requests,
// and the guarded transfer with the watchdog that ends one the server never
// finishes.
#include "session/webclient.h"

#include "config/options.h"
#include "net/httpcli.h"
#include "session/webtransfer.h"

#include <QPointer>
#include <QTimer>

#include <exception>

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

TWebClient::TWebClient(QObject *parent) : QObject(parent)
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
    return session::ProbeTransferLimit(probeIntervalMs);
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
    HttpCancelled = false;
    LastRequestError = 0;
    LastBytesSent = LastBytesReceived = 0;
    LastAddress.clear();
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
    // A handler may have replaced the client during the transfer.
    if (cli) {
        LastBytesSent = cli->WireBytesSent();
        LastBytesReceived = cli->WireBytesReceived();
        LastAddress = cli->PeerAddress();
    }
    HttpCli1->ReceiveStream = nullptr;
    HttpTransferActive = false;
    return outcome;
}

void TWebClient::Cancel()
{
    if (!HttpTransferActive || !HttpCli1 || HttpCli1->State() == httpReady)
        return;
    HttpCancelled = true;
    HttpCli1->Abort();
}

void TWebClient::HttpCli1DocBegin(THttpCli *)
{
    Status(QStringLiteral("Status: Receiving file..."));
}

void TWebClient::HttpCli1DocData(THttpCli *Sender, const char *, int)
{
    Status(QStringLiteral("Status: Received %1 bytes...").arg(Sender->ReceivedCount()));
}

void TWebClient::HttpCli1DocEnd(THttpCli *)
{
    Status(QStringLiteral("Status: Update finished."));
}

void TWebClient::HttpCli1RequestDone(THttpCli *, quint8, quint16 Error)
{
    ++HttpRequestCount;
    LastRequestError = Error;
    Status(QStringLiteral("Status: Update finished."));
}


void TWebClient::Status(const QString &text)
{
    if (OnStatus)
        OnStatus(text);
}
