// Taking the main window out of sight. With a notification area the window
// is hidden and the tray icon brings it back; without one a hidden window
// could never be reached again, so it is minimized instead and stays on the
// task bar.
#pragma once

class QWidget;

// True when hiding leaves a way back: the desktop offers a tray.
bool CanHideToTray();

// Hides the window where a tray can bring it back, minimizes it otherwise.
// Every "out of sight" request (close box, Hide Idlix, the tray menu,
// minimize on session start) goes through here.
void HideOrMinimize(QWidget *window);
