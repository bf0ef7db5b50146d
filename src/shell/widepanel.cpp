#include "shell/widepanel.h"

#include <QFrame>

TWidePanel::TWidePanel(IShell &shell, TPanelId id) : shell_(shell), frame_(shell.Panel(id))
{
    if (id != TPanelId::Resolve)
        backdrop_.emplace(shell);
}

bool TWidePanel::IsOpen() const
{
    return !frame_->isHidden();
}

void TWidePanel::Open()
{
    if (backdrop_)
        backdrop_->Set(true);
    frame_->raise();
    frame_->show();
    shell_.RepaintBackground();
}

void TWidePanel::Close()
{
    frame_->hide();
    // Sent to the back as well: hidden, its place is not seen, and Open
    // raises it again.
    frame_->lower();
    if (backdrop_)
        backdrop_->Set(false);
    shell_.RepaintBackground();
}
