// The History window as a feature of the program: made the first time Tools
// > History... asks for it, shown and raised each time after, a window of
// its own that the main window owns.
#pragma once

#include <QObject>
#include <QPointer>

#include "historyview/historywindow.h"

class IShell;

namespace history {
class THistoryStore;
}

namespace historyview {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;


class THistoryFeature : public QObject {
    Q_OBJECT
public:
    // A child of the shell's window; reads 'store'.
    THistoryFeature(IShell &shell, THistoryStore &store);

    // Tools > History...: shows the window in front.
    void History1Click();
    // The window, once made (null before).
    THistoryWindow *Window() const { return window_; }

private:
    IShell &shell_;
    THistoryStore &store_;
    QPointer<THistoryWindow> window_;
};

} // namespace historyview
