// One function per picture of the program. Sizes are the ones the window's
// layout codes against; at a picture scale of 2 each image has twice as many
// pixels each way and a device pixel ratio of 2.
#pragma once

#include <QImage>
#include <QList>

// The scale the next pictures are drawn at: 1 (default) or 2.
void SetPictureScale(int scale);

QImage DrawBackground();          // 449 x 252, main window client area
QImage DrawBackdrop();            // 329 x 203, frame behind the wide panels
QImage DrawAbout();               // 320 x 200, about box
QImage DrawSwitch(bool on);       // 52 x 23 tool switch
QImage DrawArrow(bool open);      // 15 x 17 options arrow
QImage DrawLamp(bool green);      // 9 x 9 lamp
QImage DrawYesNo(bool yes);       // 21 x 17 save-question button
QImage DrawButton(int width);     // width x 19 caption button face
QImage DrawIcon(int size);        // program icon, size x size (16 and up)
QImage DrawIspImages();           // 38 x 17: host node, selected host node
QList<QImage> DrawSpinFrames(const QImage &background, int count);  // 85 x 75 each

// Where the logo animation sits on the main window (its frames carry the
// background under them so the opaque playback blends in).
constexpr int kAnimLeft = 330, kAnimTop = 38, kAnimWidth = 85, kAnimHeight = 75;
// Centre and radius of the graph circle over the information column.
// Sizes of the program icon in the hicolor theme (res/icons).
constexpr int kThemeIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};
constexpr int kDialCX = 309 + 65, kDialCY = 16 + 58, kDialR = 58;
