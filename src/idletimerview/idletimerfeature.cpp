#include "idletimerview/idletimerfeature.h"

#include "shell/shellapi.h"

#include <QWidget>

namespace idletimerview {

// What this folder shows is the idletimer layer's: its types are used unqualified.
using namespace idletimer;

TIdleTimerFeature::TIdleTimerFeature(IShell &shell) : QObject(shell.Window()), shell_(shell)
{
    setObjectName(QStringLiteral("IdleTimerFeature"));
}

void TIdleTimerFeature::FindIdleTimer1Click()
{
    if (!window_) {
        window_ = new TIdleTimerWindow(shell_.Options(), shell_.Window());
        window_->OnResult = [this](const TIdleResult &r) {
            if (OnResult)
                OnResult(r);
        };
        if (OnUseInterval)
            window_->OnUseInterval = [this](int seconds) { OnUseInterval(seconds); };
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace idletimerview
