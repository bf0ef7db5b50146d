// A feature's content panel on the window's panel stack, opened in front of
// the others and closed again the one way every feature does it. A wide
// panel stands on the backdrop and holds it from its opening to its
// closing; the narrow resolve panel stands on nothing.
#pragma once

#include "shell/shellapi.h"

#include <optional>

class QFrame;

class TWidePanel {
public:
    // The panel the layout made for 'id' (hidden until Open).
    TWidePanel(IShell &shell, TPanelId id);
    TWidePanel(const TWidePanel &) = delete;
    TWidePanel &operator=(const TWidePanel &) = delete;

    // The panel itself, for its feature to fill.
    QFrame *Frame() const { return frame_; }
    bool IsOpen() const;

    // Holds the backdrop (a wide panel), puts the panel in front, shows it
    // and repaints the background under it.
    void Open();
    // Hides the panel behind the others and lets the backdrop go: it stays
    // while another panel or running tool still holds it.
    void Close();

private:
    IShell &shell_;
    QFrame *frame_;
    std::optional<TBackdropHold> backdrop_;   // none for a narrow panel
};
