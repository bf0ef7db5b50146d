// The "Server List" panel: the hosts an anti-idle session visits in turn,
// held by ListBox1 and stored in the server list file. Additions and edits
// stay in memory until Delete or Close writes the file.
#include "antiidle/serverlist.h"

#include "net/httpcli.h"
#include "session/serverhosts.h"
#include "session/serverlistfile.h"
#include "session/webclient.h"
#include "session/webtransfer.h"
#include "shell/shellapi.h"
#include "shell/widepanel.h"
#include "widgets/captionbutton.h"
#include "widgets/layout.h"
#include "widgets/picturebutton.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSaveFile>

namespace {

// Wider than the stock face so "Delete Host" and "Update  List" fit.
constexpr int ServerButtonWidth = 70, ServerButtonX = 231;

// A download replaces the list only with a document the server actually
// sent: a status line in the 2xx range. A reply in another protocol version
// (no status the client knows) or a 3xx without a document would otherwise
// empty the list.
bool IsDocument(int statusCode)
{
    return statusCode >= 200 && statusCode < 300;
}

} // namespace

TServerList::TServerList(IShell &shell, TServerHosts &hosts, TWebClient &web, QObject *parent)
    : QObject(parent), shell_(shell), hosts_(hosts), web_(web)
{
    setObjectName(QStringLiteral("ServerList"));
    CreatePanel();
    // The session reloads the list when a cycling session starts.
    hosts_.OnReset = [this] { ShowHosts(); };
    ShowHosts();
    LoadServerList();
}

TServerList::~TServerList()
{
    hosts_.OnReset = nullptr;
}

QStringList TServerList::Hosts() const
{
    return hosts_.Entries();
}

void TServerList::ShowHosts()
{
    ListBox1->clear();
    ListBox1->addItems(hosts_.Entries());
}

// Index of the selected entry of ListBox1, -1 when none is selected.
int TServerList::SelectedServer() const
{
    const int row = ListBox1->currentRow();
    if (row < 0 || !ListBox1->item(row)->isSelected())
        return -1;
    return row;
}

void TServerList::CreatePanel()
{
    panel_ = std::make_unique<TWidePanel>(shell_, TPanelId::Servers);
    pnl_Servers = panel_->Frame();
    MakeLabel(pnl_Servers, QStringLiteral("lbl_SrvHost"), QStringLiteral("Host:"), 8, 22, 30, 14);
    edt_SrvHost = MakeEdit(pnl_Servers, QStringLiteral("edt_SrvHost"), 40, 20, 180);
    edt_SrvHost->setToolTip(QStringLiteral("Enter hostname to add to ping list"));

    ListBox1 = new QListWidget(pnl_Servers);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(8, 44, 212, 136);
    ListBox1->setToolTip(QStringLiteral("Server list"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setSortingEnabled(false);

    auto button = [this](const char *name, const char *caption, int y, QLabel **label) {
        const QString n = QString::fromLatin1(name);
        return MakeCaptionButton(pnl_Servers, QStringLiteral("btn_") + n,
                                 QStringLiteral("lbl_") + n, QString::fromLatin1(caption),
                                 ServerButtonX, y, ServerButtonWidth, label);
    };
    btn_SrvAdd = button("SrvAdd", "Add Host", 20, &lbl_SrvAdd);
    btn_SrvEdit = button("SrvEdit", "Edit Host", 44, &lbl_SrvEdit);
    btn_SrvDelete = button("SrvDelete", "Delete Host", 68, &lbl_SrvDelete);
    btn_SrvUpdate = button("SrvUpdate", "Update  List", 92, &lbl_SrvUpdate);
    btn_SrvClose = button("SrvClose", "Close", 161, &lbl_SrvClose);

    btn_SrvAdd->OnClick = [this] { btn_SrvAddClick(); };
    btn_SrvEdit->OnClick = [this] { btn_SrvEditClick(); };
    btn_SrvDelete->OnClick = [this] { btn_SrvDeleteClick(); };
    btn_SrvUpdate->OnClick = [this] { btn_SrvUpdateClick(); };
    btn_SrvClose->OnClick = [this] { btn_SrvCloseClick(); };
    // Enter presses the Add button while held and adds the host on release
    // of the key press, as a click on Add would.
    InstallEnterPressEffect(edt_SrvHost, btn_SrvAdd);
    connect(edt_SrvHost, &QLineEdit::returnPressed, this, [this] { edt_SrvHostKeyPress(); });
}

void TServerList::LoadServerList()
{
    hosts_.Load(session::ServerListPath());
}

bool TServerList::SaveServerList()
{
    const QString path = session::ServerListPath();
    if (hosts_.Save(path))
        return true;
    shell_.ShowMessage(QStringLiteral("Cannot create file %1").arg(path));
    return false;
}

void TServerList::ServerList1Click()
{
    edt_SrvHost->clear();
    // Without a file the list is now empty.
    hosts_.Replace({});
    LoadServerList();
    panel_->Open();
    edt_SrvHost->setFocus();
}

void TServerList::btn_SrvAddClick()
{
    const QString host = edt_SrvHost->text();
    if (host.isEmpty())
        return;
    hosts_.Append(host);
    ListBox1->addItem(host);
    ListBox1->setEnabled(true);
    edt_SrvHost->clear();
}

void TServerList::btn_SrvEditClick()
{
    const int i = SelectedServer();
    if (i < 0)
        return;
    // The entry leaves the list while it is edited; Add puts it back at the end.
    ListBox1->setEnabled(false);
    edt_SrvHost->setText(ListBox1->item(i)->text());
    hosts_.RemoveAt(i);
    delete ListBox1->takeItem(i);
}

void TServerList::btn_SrvDeleteClick()
{
    const int i = SelectedServer();
    if (i < 0)
        return;
    hosts_.RemoveAt(i);
    delete ListBox1->takeItem(i);
    if (!SaveServerList())
        return;
    ListBox1->clearSelection();
    ListBox1->setCurrentRow(-1);
    // The entry that took the deleted one's place is selected; after the last
    // entry there is none, so nothing is.
    if (i < ListBox1->count())
        ListBox1->setCurrentRow(i);
}

void TServerList::btn_SrvCloseClick()
{
    if (!SaveServerList())
        return;
    panel_->Close();
}

void TServerList::edt_SrvHostKeyPress()
{
    if (!edt_SrvHost->text().isEmpty())
        btn_SrvAddClick();
}

// "Update  List": the document goes to a temporary file beside the list,
// which replaces the list file only when the whole document has arrived, so a
// failed download leaves the previous list as it was, on disk and on the
// panel.
void TServerList::btn_SrvUpdateClick()
{
    const QString host = QLatin1String(session::MakerWebHost);
    // A probe (or an earlier click) may still be using the client: its
    // transfer and its file are left alone.
    if (web_.Busy()) {
        shell_.SetStatus(QStringLiteral("Status: Update skipped, another transfer is still running."));
        return;
    }
    web_.CopyProxySettings(shell_.Options().Proxy);

    const QString path = session::ServerListPath();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        shell_.ShowMessage(QStringLiteral("Cannot create file %1").arg(path));
        return;
    }
    shell_.SetStatus(QStringLiteral("Status: Contacting ") + host + QStringLiteral("..."), true);

    const int limitMs = web_.HttpWatchdogLimit(0);
    const TWebClient::TOutcome outcome = web_.Get(session::ServerListUrl(), &file, limitMs,
                                                 session::ServerListBodyLimit);
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
            ? session::TimeoutReason(limitMs)
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
