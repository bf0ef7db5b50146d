// The dial-up line's own idle timer (pppd's `idle`, a dial-on-demand or a
// carrier's timer): the line is dialled through the dial-up service, then
// nothing at all is sent, and the line is watched until it drops. What it
// measures ends the user's connection: the caller asks first.
#pragma once

#include "idletimer/idlefinder.h"
#include "dialer/dialup.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <utility>

namespace idletimer {

class TLineIdleFinder : public QObject {
public:
    // Dials 'params.entry' of 'phoneBook'; gives up after 'longest' seconds
    // of silence with the line still up ("at least").
    TLineIdleFinder(const QString &phoneBook, const dialer::DialParams &params, int longest,
                    QObject *parent = nullptr);
    ~TLineIdleFinder() override;

    std::function<void(const QString &)> OnProgress;
    std::function<void(const TIdleResult &)> OnDone;   // once, at the end

    void Start();
    // Hangs up and ends without a result.
    void Stop();
    // Seconds the line has been silent and up so far (0 before it is up).
    int SilentSeconds() const;

private:
    void Notified(unsigned state, int error);
    void Poll();
    void Finish(TTrialPlan::TState state, const QString &reason = {});

    QString phoneBook_;
    dialer::DialParams params_;
    int longest_;
    dialer::DialHandle handle_ = 0;
    bool up_ = false, done_ = false;
    QElapsedTimer since_;          // from the moment the line came up
    qint64 aliveMs_ = 0;           // the line last seen up, after this much silence
    QElapsedTimer total_;
    QTimer poll_;
};

} // namespace idletimer
