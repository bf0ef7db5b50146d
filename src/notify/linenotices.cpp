#include "notify/linenotices.h"

#include "config/options.h"
#include "notify/noticetext.h"

namespace {

// The history opens from a click on the notice ("default") or its button.
const QString kDefaultAction = QStringLiteral("default");
const QString kHistoryAction = QStringLiteral("history");
// Opens a captive portal's login page.
const QString kPortalAction = QStringLiteral("portal");

} // namespace

TLineNotices::TLineNotices(const config::TOptions &options, QObject *parent)
    : QObject(parent), options_(options), client_(QStringLiteral("Idlix"), this)
{
    setObjectName(QStringLiteral("LineNotices"));
    client_.OnAction = [this](uint id, const QString &action) {
        if (action == kPortalAction) {
            // Only the notice that offered it, and only the page it named.
            if (id == lineId_ && !portalUrl_.isEmpty())
                if (auto handler = OnOpenPortal)
                    handler(portalUrl_);
            return;
        }
        if (action != kDefaultAction && action != kHistoryAction)
            return;
        if (auto handler = OnShowHistory)
            handler();
    };
}

void TLineNotices::LinkDown(const TOutage &outage)
{
    if (!options_.Notify.Enabled)
        return;
    shownVerdict_ = outage.Verdict;
    const notify::TNoticeText text = notify::LostText(outage);
    Send(text.Summary, text.Body, QStringLiteral("network.disconnected"), true);
}

void TLineNotices::Diagnosed(const diagnosis::TDiagnosisResult &result, const std::optional<TOutage> &outage)
{
    // A verdict that pins nothing is no news worth a notice.
    if (!outage || !options_.Notify.Enabled || outage->Verdict == shownVerdict_
        || outage->Verdict == diagnosis::VerdictName(diagnosis::TVerdict::Unknown))
        return;
    shownVerdict_ = outage->Verdict;
    const notify::TNoticeText text = notify::LostText(*outage);
    const bool portal = result.Verdict == diagnosis::TVerdict::Portal;
    Send(text.Summary, text.Body, QStringLiteral("network.disconnected"), true, portal ? result.PortalUrl : QString());
}

void TLineNotices::LinkUp(const TOutage &outage)
{
    if (!options_.Notify.Enabled)
        return;
    const notify::TNoticeText text = notify::BackText(outage);
    Send(text.Summary, text.Body, QStringLiteral("network.connected"), true);
}

void TLineNotices::Tell(const QString &summary, const QString &body)
{
    Send(summary, body, QStringLiteral("network"), false);
}

void TLineNotices::Send(const QString &summary, const QString &body, const QString &category, bool line,
                        const QString &portalUrl)
{
    bus::TNotice n;
    n.Summary = summary;
    n.Body = body;
    n.Category = category;
    n.Icon = QLatin1String(kIcon);
    n.DesktopEntry = QLatin1String(kDesktopEntry);
    if (OnShowHistory) {
        const QString label = QStringLiteral("Show History");
        n.Actions = {{kDefaultAction, label}, {kHistoryAction, label}};
    }
    const bool offered = !portalUrl.isEmpty() && OnOpenPortal;
    if (offered)
        n.Actions.append({kPortalAction, QStringLiteral("Open Login Page")});
    queue_.push_back({n, line, offered ? portalUrl : QString()});
    SendNext();
}

void TLineNotices::SendNext()
{
    if (sending_ || queue_.empty())
        return;
    TPending next = queue_.front();
    queue_.pop_front();
    if (next.Line)
        next.Notice.ReplacesId = lineId_;
    sending_ = true;
    client_.Show(next.Notice, [this, next](uint id) {
        sending_ = false;
        if (id == 0) {
            if (auto fallback = Fallback)
                fallback(next.Notice.Summary, next.Notice.Body);
        } else if (next.Line) {
            lineId_ = id;
            portalUrl_ = next.PortalUrl;
        }
        SendNext();
    });
}
