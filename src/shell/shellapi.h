// What a feature (anti-idle, the tools, dial-up) may ask of the main window.
//
// The main window (TMainForm) implements this interface; a feature is given
// it at construction and reaches the window only through it, never through the
// window's class. The window in turn knows no feature: it owns the frame,
// menus, option panels and information column, and hands each feature the
// switch and the panel that the layout made for it.
#pragma once

#include "config/options.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QFrame;
class QLabel;
class QProgressBar;
class QTextEdit;
class QWidget;
class TAnimate;
class TResponseGraph;
class TTickingClock;
class TToolSwitch;

// The tools of the left column and the Tools menu.
enum class TToolId { AntiIdle, Finger, Latency, Ping, Trace, ISPTree, Resolve };

// The content panels the layout makes for the features (the wide ones stand
// on the backdrop).
enum class TPanelId { AIReport, Servers, Finger, Ping, Trace, ISPTree, Resolve };

// The labels of the information column that a session fills in, and the
// logo animation that gives way to the graph while a tool uses it.
struct TInfoColumn {
    QLabel *PingLight;   // kind of the probe in flight
    QLabel *lbl_Method;  // the session's method
    QLabel *ModeLBL;     // the session's mode (blinks with the stopwatch)
    QLabel *GoodLBL;     // successful/total probes
    QLabel *TimeLBL;     // the stopwatch
    TAnimate *anm_BV;    // the logo animation
};

// The Dial-Up menu's items that act on the line (its options item is the
// window's own).
struct TDialUpMenu {
    QAction *Connect1;
    QAction *Disconnect1;
    QAction *Reset1;
};

class IShell {
public:
    virtual ~IShell() = default;

    // The window itself: parent for dialogs, context for connections.
    virtual QWidget *Window() = 0;

    // Replaces the status line; repaint paints it at once (for writers
    // inside a long blocking step).
    virtual void SetStatus(const QString &text, bool repaint = false) = 0;
    // The history pane, and its place in the panel stack: in front while a
    // session runs, behind every panel (but over the backgrounds) otherwise.
    virtual QTextEdit *History() = 0;
    // Adds a line to the history from outside the session (a dial-up
    // notice): through the writer the session installed, so its log keeps
    // every line the pane shows; straight into the pane without one.
    virtual void AddHistoryLine(const QString &text) = 0;
    virtual void SetHistoryWriter(std::function<void(const QString &text)> writer) = 0;
    virtual void SetHistoryInFront(bool front) = 0;
    // Repaints the window's background picture now.
    virtual void RepaintBackground() = 0;

    // The response graph and the information column.
    virtual TResponseGraph &Graph() = 0;
    virtual TInfoColumn Info() = 0;
    // The session stopwatch (TimeLBL shows it while it is enabled).
    virtual TTickingClock &Stopwatch() = 0;
    // The progress gauge under the information column.
    virtual QProgressBar *Gauge() = 0;

    // The backdrop behind the wide panels, held by a use count: every panel
    // or tool that stands on it acquires it once and releases it once; it
    // shows from the first acquire and hides at the last release.
    virtual void AcquireBackdrop() = 0;
    virtual void ReleaseBackdrop() = 0;

    // A message box (modal: the event loop runs while it is open).
    virtual void ShowMessage(const QString &text) = 0;
    // The same with the warning icon, captioned "Warning".
    virtual void ShowWarning(const QString &text) = 0;
    // Takes the window out of sight (to the tray, or minimized without one).
    virtual void HideWindow() = 0;
    // A balloon message from the tray icon, in plain text; false when there
    // is no icon in a tray to show it.
    virtual bool ShowTrayMessage(const QString &title, const QString &text) = 0;

    // A tool's switch; its running state is the tool's.
    virtual TToolSwitch &Switch(TToolId tool) = 0;
    // The tools switched on now.
    virtual QList<TToolId> RunningTools() const = 0;
    // A content panel made by the layout, hidden, for its feature to fill.
    virtual QFrame *Panel(TPanelId panel) = 0;

    // The option values the program runs with, as the option panels show
    // them now (an edit counts at once, saved or not), and the opener of a
    // tool's options panel (what a click on its arrow does).
    virtual const config::TOptions &Options() const = 0;
    // Replaces the option values and shows them on the panels (a correction
    // a tool makes, such as a packet size cut to the largest there is).
    virtual void SetOptions(const config::TOptions &options) = 0;
    virtual void OpenOptions(TToolId tool) = 0;
    // Calls 'changed' whenever the user saves new preferences.
    virtual void WatchPreferences(std::function<void()> changed) = 0;
    // The phone book's entries, for the dial-up options' connection list;
    // the stored connection is selected when the list has it.
    virtual void SetDialUpEntries(const QStringList &entries) = 0;
    // The Dial-Up menu, for the dial-up control.
    virtual TDialUpMenu DialUpMenu() = 0;
};

// One user's hold on the backdrop: Set(true) acquires it once, Set(false)
// releases it once, however often either is called, so a panel that is
// shown twice or closed twice cannot upset the count.
class TBackdropHold {
public:
    explicit TBackdropHold(IShell &shell) : shell_(shell) {}
    // Leaves the count alone: a hold outlived by its window needs nothing, and
    // one that dies first belongs to a feature going away with the window.
    ~TBackdropHold() = default;
    TBackdropHold(const TBackdropHold &) = delete;
    TBackdropHold &operator=(const TBackdropHold &) = delete;

    void Set(bool held)
    {
        if (held == held_)
            return;
        held_ = held;
        if (held)
            shell_.AcquireBackdrop();
        else
            shell_.ReleaseBackdrop();
    }
    bool Held() const { return held_; }

private:
    IShell &shell_;
    bool held_ = false;
};
