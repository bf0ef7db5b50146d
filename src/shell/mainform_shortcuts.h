// Keeps the Tools menu's Ctrl keys working while a text field has the focus.
#pragma once

class QWidget;

// Installs an application-wide filter: Ctrl+A, F, L, P, T, I and R pressed in
// any control of `window` go to the Tools menu rather than to the control
// (a text field would otherwise take Ctrl+A as "select all" and some of the
// others as cursor keys), and Ctrl+Del goes to Edit > Delete (a text field
// would delete one word). The filter lives as long as the window.
void InstallToolKeyRouter(QWidget *window);
