// A tool's switch in the left column: the switch picture with its caption,
// the red and green lamps, the options arrow, and the tool's menu items.
//
// The switch holds the tool's running state (the tool sets it, the widgets
// show it), so switching a tool on or off is one call, and "which tools run"
// is a question anyone holding the switches can answer without reading a lamp.
#pragma once

#include <QList>
#include <QObject>

#include <functional>

class QAction;
class QLabel;
class TPictureButton;

class TToolSwitch : public QObject {
    Q_OBJECT
public:
    // The controls of one switch; any of them may be missing (a tool started
    // from the menu only has no switch and no lamps, some tools no options).
    struct TParts {
        TPictureButton *Button = nullptr;   // the switch: image 0 off, 1 on
        QLabel *Caption = nullptr;          // the tool's name above the switch
        QLabel *RedLamp = nullptr;          // lit while the tool is off
        QLabel *GreenLamp = nullptr;        // lit while the tool runs
        TPictureButton *Arrow = nullptr;    // opens the tool's options; hidden while on
        QAction *ToolItem = nullptr;        // Tools menu: does what a click on the switch does
        QAction *OptionsItem = nullptr;     // Options menu item of the tool
    };

    explicit TToolSwitch(const TParts &parts, QObject *parent = nullptr);

    const TParts &Parts() const { return parts_; }

    // Connects the switch (and its Tools menu item) to the tool: onToggle runs
    // on every click of either. Until a tool is bound, both do nothing.
    void Bind(std::function<void()> onToggle);
    bool Bound() const { return bool(onToggle_); }
    // Does what a click on the switch does: the tool switches itself on or
    // off (used by features that start or stop another tool).
    void Click() { Toggle(); }
    // Enables or disables the switch and its Tools menu item (a tool that is
    // not part of the program is shown disabled).
    void SetAvailable(bool available);

    // The tool's running state.
    bool Running() const { return running_; }
    // Sets the state and shows it: switch picture, lamps, the arrow hidden
    // while on, and every item of LockedWhileOn disabled while on. Setting the
    // state it already has changes nothing.
    void SetRunning(bool on);

    // Menu items that must not be used while the tool runs (its own items,
    // and those of tools it cannot run beside).
    QList<QAction *> LockedWhileOn;

private:
    void Toggle();

    TParts parts_;
    std::function<void()> onToggle_;
    bool running_ = false;
};
