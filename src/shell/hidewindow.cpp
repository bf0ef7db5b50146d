#include "shell/hidewindow.h"

#include "desktop/trayservice.h"

#include <QWidget>

bool CanHideToTray()
{
    return desktop::TTrayService::Available();
}

void HideOrMinimize(QWidget *window)
{
    if (!window)
        return;
    if (CanHideToTray())
        window->hide();
    else
        window->showMinimized();
}
