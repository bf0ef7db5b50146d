// The window's size ([Window] Scale in idlix2.ini, set in Options >
// Preferences...) handed to Qt, which applies it to the whole window (its
// geometry, fonts and pictures; the pictures come in 2x drawings for anything
// above 100 %). Qt takes it only as the application object is made, so a
// change shows at the next start.
#pragma once

// Sets Qt's scaling for a config::TWindowOptions scale. Must run before the
// application object is made. Automatic leaves Qt its own factor for each
// screen: the desktop's setting for the screen's pixel density (Xft.dpi, the
// Wayland output's scale), or QT_SCALE_FACTOR / QT_SCREEN_SCALE_FACTORS when
// the user set them, 100 % where nothing is set. A fixed size is that factor
// alone, whatever the desktop's.
void PrepareWindowScale(int scale);

// main()'s step before the application object: reads the setting from the
// data folder's idlix2.ini and prepares it.
void PrepareWindowScaleFromSettings(int &argc, char **argv);
