// "Update  List" on the server list panel: downloads the current server list
// from the maker's web server and shows it. The document goes to a temporary
// file beside the list, which replaces the list file only when the whole
// document has arrived, so a failed download leaves the previous list as it
// was, on disk and on the panel.
#include "app/mainform.h"

#include "antiidle/serverlistfile.h"
#include "antiidle/webtransfer.h"
#include "net/httpprot.h"
#include "platform/msgbox.h"

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

void TMainForm::btn_SrvUpdateClick()
{
    const QString host = QLatin1String(antiidle::MakerWebHost);
    // A probe (or an earlier click) may still be using the client: its
    // transfer and its file are left alone.
    if (HttpTransferActive || HttpCli1->State() != httpReady) {
        SetStatus(QStringLiteral("Status: Update skipped, another transfer is still running."));
        return;
    }

    HttpCli1->URL = antiidle::ServerListUrl();
    CopyProxySettings();

    const QString path = antiidle::ServerListPath();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        platform::ShowMessage(QStringLiteral("Cannot create file %1").arg(path));
        return;
    }
    HttpCli1->ReceiveStream = &file;
    HttpCli1->BodyLimit = antiidle::ServerListBodyLimit;
    HttpTransferActive = true;
    SetStatus(QStringLiteral("Status: Contacting ") + host + QStringLiteral("..."), true);

    const int limitMs = HttpWatchdogLimit(false);
    QString failure;     // status text of a failed transfer
    QString otherError;  // anything else goes to a message box
    try {
        HttpGetGuarded(limitMs);
        if (!IsDocument(HttpCli1->StatusCode())) {
            failure = HttpCli1->StatusCode() == 0
                ? QStringLiteral("the reply carried no HTTP/1.x status line")
                : QStringLiteral("%1 %2").arg(HttpCli1->StatusCode()).arg(HttpCli1->ReasonPhrase());
        }
    } catch (const EHttpException &) {
        failure = HttpWatchdogFired
            ? antiidle::TimeoutReason(limitMs)
            : QStringLiteral("%1 %2").arg(HttpCli1->StatusCode()).arg(HttpCli1->ReasonPhrase());
    } catch (const std::exception &e) {
        otherError = QString::fromUtf8(e.what());
    }
    HttpCli1->ReceiveStream = nullptr;
    HttpTransferActive = false;

    if (!failure.isEmpty() || !otherError.isEmpty()) {
        file.cancelWriting();
        if (!failure.isEmpty())
            SetStatus(QStringLiteral("Status: Update failed. ") + failure);
        else
            platform::ShowMessage(otherError);
        return;
    }

    const qint64 size = file.size();
    if (!file.commit()) {
        // The old list stays; the temporary file is removed by the commit.
        platform::ShowMessage(QStringLiteral("Cannot create file %1").arg(path));
        return;
    }
    SetStatus(QStringLiteral("Status: Received %1 bytes.").arg(size));
    LoadServerList();
}
