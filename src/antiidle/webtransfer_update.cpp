// "Update  List" on the server list panel: downloads the current server list
// from the maker's web server and shows it. The document goes to a temporary
// file beside the list, which replaces the list file only when the whole
// document has arrived, so a failed download leaves the previous list as it
// was, on disk and on the panel.
#include "antiidle/serverlist.h"

#include "antiidle/serverlistfile.h"
#include "antiidle/webclient.h"
#include "antiidle/webtransfer.h"
#include "net/httpprot.h"
#include "shell/shellapi.h"

#include <QSaveFile>

#include <exception>

namespace {

// A download replaces the list only with a document the server actually
// sent: a status line in the 2xx range. A reply in another protocol version
// (no status the client knows) or a 3xx without a document would otherwise
// empty the list.
bool IsDocument(int statusCode)
{
    return statusCode >= 200 && statusCode < 300;
}

} // namespace

void TServerList::btn_SrvUpdateClick()
{
    const QString host = QLatin1String(antiidle::MakerWebHost);
    // A probe (or an earlier click) may still be using the client: its
    // transfer and its file are left alone.
    if (web_.Busy()) {
        shell_.SetStatus(QStringLiteral("Status: Update skipped, another transfer is still running."));
        return;
    }
    web_.CopyProxySettings(shell_.Options().Proxy);

    const QString path = antiidle::ServerListPath();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        shell_.ShowMessage(QStringLiteral("Cannot create file %1").arg(path));
        return;
    }
    shell_.SetStatus(QStringLiteral("Status: Contacting ") + host + QStringLiteral("..."), true);

    const int limitMs = web_.HttpWatchdogLimit(0);
    const TWebClient::TOutcome outcome = web_.Get(antiidle::ServerListUrl(), &file, limitMs,
                                                 antiidle::ServerListBodyLimit);
    THttpCli *cli = web_.HttpCli1;
    QString failure;     // status text of a failed transfer
    switch (outcome.Result) {
    case TWebClient::TResult::Done:
        if (!IsDocument(cli->StatusCode())) {
            failure = cli->StatusCode() == 0
                ? QStringLiteral("the reply carried no HTTP/1.x status line")
                : QStringLiteral("%1 %2").arg(cli->StatusCode()).arg(cli->ReasonPhrase());
        }
        break;
    case TWebClient::TResult::HttpError:
        failure = web_.HttpWatchdogFired
            ? antiidle::TimeoutReason(limitMs)
            : QStringLiteral("%1 %2").arg(cli->StatusCode()).arg(cli->ReasonPhrase());
        break;
    case TWebClient::TResult::OtherError:
        // Anything else goes to a message box.
        file.cancelWriting();
        shell_.ShowMessage(outcome.Error);
        return;
    }
    if (!failure.isEmpty()) {
        file.cancelWriting();
        shell_.SetStatus(QStringLiteral("Status: Update failed. ") + failure);
        return;
    }

    const qint64 size = file.size();
    if (!file.commit()) {
        // The old list stays; the temporary file is removed by the commit.
        shell_.ShowMessage(QStringLiteral("Cannot create file %1").arg(path));
        return;
    }
    shell_.SetStatus(QStringLiteral("Status: Received %1 bytes.").arg(size));
    LoadServerList();
}
