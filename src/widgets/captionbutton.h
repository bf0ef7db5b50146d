// Command buttons of the panels (ping, report, server list): the generic
// button face with its caption drawn over it.
#pragma once

#include <QString>

class QLabel;
class QWidget;
class TPictureButton;

// Width of the stock button face.
inline constexpr int CaptionButtonWidth = 60;

// Makes the button 'name' at (x, y), 'width' x 19, and its caption label
// 'captionName'; pressing either gives both the press effect. The caption
// label is returned through 'captionOut'.
TPictureButton *MakeCaptionButton(QWidget *parent, const QString &name,
                                  const QString &captionName, const QString &caption, int x,
                                  int y, int width, QLabel **captionOut);
