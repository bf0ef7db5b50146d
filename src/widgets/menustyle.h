// The menus' look: dark like the window, silver text, the teal accent of the
// pictures for the highlighted item. Used by the main menu and the tray menu.
#pragma once

inline constexpr const char *kMenuStyle =
    "QMenuBar { background: #0b0d0e; color: #c0c0c0; }"
    "QMenuBar::item { background: transparent; padding: 2px 6px; }"
    "QMenuBar::item:selected { background: #12494f; color: #ffffff; }"
    "QMenu { background: #15191b; color: #c0c0c0; border: 1px solid #2b5f66; }"
    "QMenu::item { padding: 3px 22px 3px 20px; }"
    "QMenu::item:selected { background: #12494f; color: #ffffff; }"
    "QMenu::item:disabled { color: #5a5f62; }"
    "QMenu::separator { height: 1px; background: #2a3033; margin: 3px 6px; }"
    "QMenu::indicator { width: 10px; height: 10px; left: 5px; }"
    "QMenu::indicator:checked { background: #2fb7c4; border: 1px solid #0b0d0e; }";
