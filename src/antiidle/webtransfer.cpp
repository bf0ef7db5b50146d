// Web transfers of the anti-idle session: the window's HTTP client with its
// four handlers, its replacement after a hundred requests, the HTTP GET
// probe timed by the millisecond stopwatch, and the watchdog that ends a
// transfer the server never finishes.
#include "app/mainform.h"

#include "antiidle/webtransfer.h"
#include "app/supertimer.h"
#include "net/httpprot.h"
#include "platform/appdir.h"

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

void TMainForm::THttpCli1Deleter::operator()(THttpCli *cli) const
{
    // A transfer still running reports to no one on the way out.
    cli->OnDocBegin = nullptr;
    cli->OnDocData = nullptr;
    cli->OnDocEnd = nullptr;
    cli->OnRequestDone = nullptr;
    cli->Abort();
    delete cli;
}

THttpCli *TMainForm::CreateHttpCli1()
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

void TMainForm::ReplaceHttpCli1()
{
    // The fresh client goes on with the session's proxy; only settings that
    // are set once per session need carrying over.
    THttpCli *fresh = CreateHttpCli1();
    fresh->Proxy = HttpCli1->Proxy;
    fresh->ProxyPort = HttpCli1->ProxyPort;
    fresh->ProxyUsername = HttpCli1->ProxyUsername;
    fresh->ProxyPassword = HttpCli1->ProxyPassword;
    fresh->URL = CurrentHost;
    HttpCli1Owner.reset(fresh);
    HttpCli1 = fresh;
    HttpRequestCount = 0;
}

void TMainForm::CopyProxySettings()
{
    HttpCli1->Proxy = edt_PxyServer->text();
    HttpCli1->ProxyPort = edt_PxyPort->text();
    HttpCli1->ProxyUsername = edt_PxyUser->text();
    HttpCli1->ProxyPassword = edt_PxyPass->text();
}

int TMainForm::HttpWatchdogLimit(bool probe) const
{
    if (HttpWatchdogMs > 0)
        return HttpWatchdogMs;
    return probe ? antiidle::ProbeTransferLimit(Timer3->interval())
                 : antiidle::DefaultTransferLimitMs;
}

void TMainForm::HttpGetGuarded(int limitMs)
{
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
    HttpCli1->Get();
}

void TMainForm::HTTPTimerTimer()
{
    ++HttpElapsed;
}

void TMainForm::HttpCli1DocBegin(THttpCli *)
{
    SetStatus(QStringLiteral("Status: Receiving file..."), true);
}

void TMainForm::HttpCli1DocData(THttpCli *Sender, const char *, int)
{
    SetStatus(QStringLiteral("Status: Received %1 bytes...").arg(Sender->ReceivedCount()), true);
}

void TMainForm::HttpCli1DocEnd(THttpCli *)
{
    SetStatus(QStringLiteral("Status: Update finished."), true);
}

void TMainForm::HttpCli1RequestDone(THttpCli *, quint8, quint16)
{
    ++HttpRequestCount;
    SetStatus(QStringLiteral("Status: Update finished."), true);
}

void TMainForm::HttpProbe()
{
    // A tick or a new session can come while a transfer is still running
    // (Get keeps the message loop going). Starting another on the same
    // client would fail as busy at best and, through the replacement below,
    // destroy the running client at worst: this probe is left out instead.
    if (HttpTransferActive || HttpCli1->State() != httpReady) {
        AddLine(re_History, QStringLiteral("HTTP GET to ") + CurrentHost
                                + QStringLiteral(" skipped: the previous transfer still runs"));
        return;
    }
    if (antiidle::ClientDue(HttpRequestCount))
        ReplaceHttpCli1();

    // The texts and the report row belong to this probe's host even when a
    // tick handled during the transfer moves on to the next server.
    const QString host = CurrentHost;
    const int probeIndex = ServerIndex;
    const int limitMs = HttpWatchdogLimit(true);
    HttpCli1->URL = host;
    HttpTransferActive = true;

    SetStatus(QStringLiteral("Status: Contacting ") + host + QStringLiteral("..."));
    HttpElapsed = 0;
    QFile body(platform::DataFile(QLatin1String(antiidle::ProbeFileName)));
    bool ok = false;
    qint64 received = 0;
    QString reason;
    try {
        if (!body.open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw std::runtime_error(
                QStringLiteral("Cannot create file %1").arg(body.fileName()).toStdString());
        HttpCli1->ReceiveStream = &body;
        HttpCli1->BodyLimit = antiidle::ProbeBodyLimit;
        HTTPTimer->OnTimer = [this] { HTTPTimerTimer(); };
        HTTPTimer->SetEnabled(true);
        SetStatus(QStringLiteral("Status: Connecting to ") + host);
        AddLine(re_History, QStringLiteral("Connecting to ") + host);
        HttpGetGuarded(limitMs);
        HTTPTimer->SetEnabled(false);
        body.flush();
        received = body.size();
        ok = true;
    } catch (const EHttpException &) {
        reason = HttpWatchdogFired ? antiidle::TimeoutReason(limitMs)
                                   : HttpCli1->ReasonPhrase();
    } catch (const std::exception &e) {
        reason = QString::fromUtf8(e.what());
    }
    HTTPTimer->SetEnabled(false);
    HttpCli1->ReceiveStream = nullptr;
    body.close();
    HttpTransferActive = false;

    PingLight->hide();
    ServerIndexScope row(ServerIndex, probeIndex);
    if (ok) {
        const QString text = QStringLiteral("Received %1 bytes from ").arg(received) + host
            + QStringLiteral(" in %1ms").arg(HttpElapsed);
        SetStatus(QStringLiteral("Status: ") + text);
        AddLine(re_History, text);
        RecordSuccess(HttpElapsed);
    } else {
        const QString text = QStringLiteral("Transfer from ") + host
            + QStringLiteral(" failed. ") + reason;
        SetStatus(QStringLiteral("Status: ") + text);
        AddLine(re_History, text);
        RecordFailure();
    }
}
