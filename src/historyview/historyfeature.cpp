#include "historyview/historyfeature.h"

#include "historyview/historywindow.h"
#include "shell/shellapi.h"

#include <QWidget>

namespace historyview {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

THistoryFeature::THistoryFeature(IShell &shell, THistoryStore &store)
    : QObject(shell.Window()), shell_(shell), store_(store)
{
    setObjectName(QStringLiteral("HistoryFeature"));
}

void THistoryFeature::History1Click()
{
    if (!window_)
        window_ = new THistoryWindow(store_, shell_.Options(), shell_.Window());
    window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace historyview
