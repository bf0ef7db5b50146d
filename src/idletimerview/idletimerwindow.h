// Tools > Find Idle Timer...: a window of its own that measures how long the
// NAT or firewall on the way to a reflector keeps an idle UDP mapping or TCP
// connection. What to measure, where the reflector is and the longest
// silence are chosen; Start runs the trials side by side and shows each as
// it starts and ends, with the time left; the verdict is the same line the
// command line prints last. Everything shown is plain text.
#pragma once

#include "idletimer/idlefinder.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimer;
namespace config {
struct TOptions;
}

namespace idletimer {
class TLineIdleFinder;
}

namespace idletimerview {

// What this folder shows is the idletimer layer's: its types are used unqualified.
using namespace idletimer;


class TIdleTimerWindow : public QWidget {
    Q_OBJECT
public:
    // The kinds of cb_IdleKind, in its order.
    enum TKindChoice { Udp = 0, Tcp = 1, Line = 2 };

    TIdleTimerWindow(const config::TOptions &options, QWidget *parent = nullptr);
    ~TIdleTimerWindow() override;

    QComboBox *cb_IdleKind = nullptr;
    QLineEdit *edt_IdleReflector = nullptr;
    QSpinBox *se_IdleMax = nullptr;          // the longest silence, seconds
    QPushButton *btn_IdleStart = nullptr, *btn_IdleStop = nullptr;
    QPlainTextEdit *re_IdleProgress = nullptr;
    QLabel *lbl_IdleLeft = nullptr;          // the trials running and the time left
    QLabel *lbl_IdleResult = nullptr;        // the verdict
    QPushButton *btn_IdleUse = nullptr;      // "Use this interval"

    bool Running() const { return finder_ != nullptr || lineFinder_ != nullptr; }
    // The last verdict (State Running before any).
    const TIdleResult &Result() const { return result_; }

    // Told each verdict (the composition keeps it in the history).
    std::function<void(const TIdleResult &)> OnResult;
    // "Use this interval": told the timer found; unset hides the button.
    std::function<void(int seconds)> OnUseInterval;
    // Asked before the dial-up line's timer is measured (that ends the
    // user's connection); a question box unless set.
    std::function<bool()> ConfirmLineDrop;

    void btn_IdleStartClick();
    void btn_IdleStopClick();

private:
    void KindChanged();
    void Begin(const platform::IpAddress &address, std::uint16_t port);
    void Progress(const QString &line);
    void Done(const TIdleResult &r);
    void ShowLeft();
    void SetRunning(bool on);

    const config::TOptions &options_;
    TIdleTimerFinder *finder_ = nullptr;
    TLineIdleFinder *lineFinder_ = nullptr;
    void BeginLine();
    unsigned lookup_ = 0;
    QTimer *leftTimer_ = nullptr;
    TIdleResult result_;
};

} // namespace idletimerview
