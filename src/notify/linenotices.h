// Desktop notices of the line's state: "Connection lost" when the session
// finds the line down, "Connection back after ..." when it is up again, one
// notice per change of state (the probes between say nothing), each taking
// the place of the one before. Where the notification server offers
// actions, a notice can open the connection history. With no server, the
// notice goes to the fallback (the tray's balloon) or nowhere, without an
// error.
#pragma once

#include "bus/notifications.h"
#include "session/sessionobserver.h"

#include <QObject>
#include <QString>

#include <deque>
#include <functional>

namespace config {
struct TOptions;
}

class TLineNotices : public QObject, public TSessionObserver {
    Q_OBJECT
public:
    // The program's desktop file name and icon, as installed.
    static constexpr char kDesktopEntry[] = "com.brisvane.Idlix";
    static constexpr char kIcon[] = "idlix";

    // Reads [Notifications] Enabled from 'options' at each change of state.
    explicit TLineNotices(const config::TOptions &options, QObject *parent = nullptr);

    // Shows a notice no server took (summary, body); false when it could not
    // be shown either. Unset: such a notice is dropped.
    std::function<bool(const QString &summary, const QString &body)> Fallback;
    // Opens the connection history; while unset, no notice offers it.
    std::function<void()> OnShowHistory;
    // Opens a captive portal's login page in the browser; while unset, the
    // portal's notice does not offer it.
    std::function<void(const QString &url)> OnOpenPortal;

    void LinkDown(const TOutage &outage) override;
    void LinkUp(const TOutage &outage) override;
    // A diagnosis of the outage under way that finds another verdict than
    // the notice shows takes its place (one that pins nothing does not).
    void Diagnosed(const diagnosis::TDiagnosisResult &result, const std::optional<TOutage> &outage) override;

    // A notice of its own (not about the line's state, so it replaces
    // nothing), shown whether or not the line's notices are switched on.
    void Tell(const QString &summary, const QString &body);

    // The server's id of the last notice about the line (0 before any, or
    // when the server did not take it).
    uint LineNoticeId() const { return lineId_; }
    bus::TNotificationClient &Client() { return client_; }

private:
    struct TPending {
        bus::TNotice Notice;
        bool Line;   // a notice of the line's state: it replaces the one before
        QString PortalUrl;   // the login page its action opens; empty when it offers none
    };
    // 'portalUrl': a login page the notice offers to open; empty for none.
    void Send(const QString &summary, const QString &body, const QString &category, bool line,
              const QString &portalUrl = {});
    void SendNext();

    const config::TOptions &options_;
    bus::TNotificationClient client_;
    // Notices go out one after the other, so a notice that replaces another
    // knows the server's id for it.
    std::deque<TPending> queue_;
    bool sending_ = false;
    uint lineId_ = 0;
    QString shownVerdict_;   // the verdict the line's "Connection lost" shows; empty when none
    QString portalUrl_;      // the login page the last line notice offered; empty when none
};
