// Keeps one running instance of the program. TPreviousInstance takes the
// guard at start-up, before any window exists; TJustOne32, made with the
// main window from that guard, either hands "come to the front" requests of
// later instances to the window, or, in a later instance, sends that request
// to the running one and ends this one.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

namespace desktop {
class TInstanceGuard;
}

class TPreviousInstance {
public:
    // Takes the guard for title (the application title, platform::ProgramTitle).
    // Make it after the QApplication and before any window, and end at once
    // when Exists().
    explicit TPreviousInstance(const QString &title);
    ~TPreviousInstance();
    TPreviousInstance(const TPreviousInstance &) = delete;
    TPreviousInstance &operator=(const TPreviousInstance &) = delete;

    // True when another instance was already running.
    bool Exists() const;
    const QString &Title() const { return title_; }
    desktop::TInstanceGuard *Guard() const { return guard_; }

private:
    QString title_;
    desktop::TInstanceGuard *guard_;
};

class TJustOne32 : public QObject {
    Q_OBJECT
public:
    // In a later instance: asks the running one to come to the front and
    // requests the end of this one (Terminating() turns true, and the event
    // loop quits as soon as it runs). In the running instance: from now on,
    // requests of later instances bring the main window to the front.
    // Without a guard it does nothing.
    explicit TJustOne32(QObject *parent, TPreviousInstance *guard);
    ~TJustOne32() override;

    // True in a later instance, which must show nothing and end.
    bool Terminating() const { return terminating_; }

    // What "come to the front" does; by default BringToFront() with the
    // guard's title. Replaceable (a window that wants more, or a test).
    std::function<void()> OnActivate;

    // Shows, restores and raises the first top-level window of real size
    // whose caption is title (the application's display name when empty).
    static void BringToFront(const QString &title = QString());

private:
    TPreviousInstance *guard_;
    bool terminating_ = false;
};
