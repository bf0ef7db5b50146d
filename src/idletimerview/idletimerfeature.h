// Tools > Find Idle Timer... as a feature: the window is made the first
// time it is asked for, then shown and raised.
#pragma once

#include "idletimerview/idletimerwindow.h"

#include <QObject>
#include <QPointer>

class IShell;

namespace idletimerview {

// What this folder shows is the idletimer layer's: its types are used unqualified.
using namespace idletimer;

class TIdleTimerFeature : public QObject {
    Q_OBJECT
public:
    explicit TIdleTimerFeature(IShell &shell);

    void FindIdleTimer1Click();
    TIdleTimerWindow *Window() const { return window_; }

    // Handed to the window when it is made (see TIdleTimerWindow).
    std::function<void(const TIdleResult &)> OnResult;
    std::function<void(int seconds)> OnUseInterval;

private:
    IShell &shell_;
    QPointer<TIdleTimerWindow> window_;
};

} // namespace idletimerview
