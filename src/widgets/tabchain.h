// Tab and Shift+Tab that stay on what the user can see.
#pragma once

class QWidget;

// In 'window', Tab and Shift+Tab move the focus only between controls that
// show at least one pixel. Panels there stand on top of one another, and one
// that covers another leaves the lower one's controls "visible" to Qt's own
// focus chain, which would walk into them unseen. A text field that takes
// Tab as text keeps it.
void InstallVisibleTabChain(QWidget *window);
