// Keeps the Tools menu's Ctrl keys working while a text field has the focus.
#pragma once

class QWidget;

// Installs an application-wide filter: Ctrl+F, L, P, T, I and R pressed in
// any control of `window` go to the Tools menu rather than to the control (a
// text field would otherwise take some of them as cursor keys), Ctrl+A too
// except in a field the user can type into, where it selects all, and
// Ctrl+Del goes to Edit > Delete (a text field would delete one word). The
// filter lives as long as the window.
void InstallToolKeyRouter(QWidget *window);
