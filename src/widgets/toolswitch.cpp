#include "widgets/toolswitch.h"

#include "widgets/picturebutton.h"

#include <QAction>
#include <QLabel>

namespace {

// Images of a switch and of an options arrow.
constexpr int ImageOff = 0, ImageOn = 1;

} // namespace

TToolSwitch::TToolSwitch(const TParts &parts, QObject *parent) : QObject(parent), parts_(parts)
{
    if (parts_.Button)
        parts_.Button->OnClick = [this] { Toggle(); };
    // The menu item clicks the switch, so it gets the switch's press effect;
    // a tool without a switch is run directly. The connection belongs to the
    // window that owns the switch, as its other menu connections do.
    if (parts_.ToolItem) {
        QObject *context = parent ? parent : this;
        connect(parts_.ToolItem, &QAction::triggered, context, [this] {
            if (parts_.Button)
                parts_.Button->Click();
            else
                Toggle();
        });
    }
}

void TToolSwitch::Bind(std::function<void()> onToggle)
{
    onToggle_ = std::move(onToggle);
    SetAvailable(true);
}

void TToolSwitch::SetAvailable(bool available)
{
    if (parts_.Button)
        parts_.Button->setEnabled(available);
    if (parts_.ToolItem)
        parts_.ToolItem->setEnabled(available);
}

void TToolSwitch::Toggle()
{
    if (onToggle_)
        onToggle_();
}

void TToolSwitch::SetRunning(bool on)
{
    if (running_ == on)
        return;
    running_ = on;
    if (parts_.Button)
        parts_.Button->SetImageIndex(on ? ImageOn : ImageOff);
    if (parts_.GreenLamp)
        parts_.GreenLamp->setVisible(on);
    if (parts_.RedLamp)
        parts_.RedLamp->setVisible(!on);
    if (parts_.Arrow)
        parts_.Arrow->setVisible(!on);
    for (QAction *item : LockedWhileOn)
        item->setEnabled(!on);
}
