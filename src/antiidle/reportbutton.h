// Command buttons of the wide anti-idle panels (report and server list): the
// generic button face with its caption drawn over it.
#pragma once

#include <QString>

class QLabel;
class QWidget;
class TPictureButton;

// Makes the button 'name' at (x, y), 'width' x 19, and its caption label
// 'captionName'; pressing either gives both the press effect. The caption
// label is returned through 'captionOut'.
TPictureButton *MakeCaptionButton(QWidget *parent, const QString &name,
                                  const QString &captionName, const QString &caption, int x,
                                  int y, int width, QLabel **captionOut);
