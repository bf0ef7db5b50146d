// Makers of the plain controls the window's panels are laid out with: each
// gets its objectName and its place (x, y, width; the height is the one the
// window uses for that kind of control). A label shows its text as plain
// text, whatever is put into it later: never as markup.
#pragma once

#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QWidget;

QLabel *MakeLabel(QWidget *parent, const QString &name, const QString &text, int x, int y, int w,
                  int h);
QLineEdit *MakeEdit(QWidget *parent, const QString &name, int x, int y, int w);
QSpinBox *MakeSpin(QWidget *parent, const QString &name, int min, int max, int x, int y, int w);
QCheckBox *MakeCheck(QWidget *parent, const QString &name, const QString &caption, int x, int y,
                     int w);
