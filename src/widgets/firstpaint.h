// Waiting for a newly shown window to be on the screen before going on with
// work that does not change what it shows.
//
// A program that builds everything before it returns to the event loop keeps
// its window blank (or unmapped) all that while. A start-up can instead show
// the window, let it paint once, and build the rest while the user looks at
// it: the user's input is held back meanwhile (it stays queued and is
// delivered once the loop runs again), so nothing built after the first
// paint can be missing when the user first acts.
#pragma once

class QWidget;

// Runs the event loop, leaving the user's input queued, until 'window' has
// painted once; gives up at once when it is hidden or minimised, and after
// timeoutMs when the desktop never exposes it (a window placed on another
// workspace). True when the window painted.
bool WaitForFirstPaint(QWidget *window, int timeoutMs = 1000);
