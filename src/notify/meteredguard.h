// The keep-alive on a metered connection. Once per run, when a session runs
// on a metered connection, the user is told what the keep-alive costs there
// (from the options and the bytes the probes were measured at). With "Pause
// probes on metered connections" the session is paused while the connection
// is metered and resumed when it is not.
#pragma once

#include "notify/keepalivecost.h"
#include "session/sessionobserver.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class TAntiIdleSession;

class TMeteredGuard : public QObject, public TSessionObserver {
    Q_OBJECT
public:
    // Why the session is paused, as its history records it.
    static QString PauseReason() { return QStringLiteral("paused (metered)"); }

    // Watches 'session' (as its observer) with the options it runs with.
    TMeteredGuard(TAntiIdleSession &session, const config::TOptions &options, QObject *parent = nullptr);
    ~TMeteredGuard() override;

    // The connection became metered, or stopped being metered.
    void SetMetered(bool metered);
    bool Metered() const { return metered_; }
    // Applies the pause setting as it stands now (the user saved new
    // preferences).
    void PreferencesChanged();

    // What the user is told once (summary, body).
    std::function<void(const QString &summary, const QString &body)> OnMessage;

    // The bytes per probe measured so far.
    notify::TProbeBytes Measured() const;

    void SessionStarted() override;
    void ProbeResult(const TProbeResult &result) override;

private:
    void ApplyPause();
    void TellOnce();

    TAntiIdleSession &session_;
    const config::TOptions &options_;
    bool metered_ = false;
    bool paused_ = false;      // the session is paused by us
    bool told_ = false;
    // The last successful probe's bytes to each host, by kind: a list's
    // servers answer with pages of their own sizes.
    QHash<QString, qint64> echoBytes_, httpBytes_;
};
