#include "widgets/layout.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

QLabel *MakeLabel(QWidget *parent, const QString &name, const QString &text, int x, int y, int w,
                  int h)
{
    auto *label = new QLabel(parent);
    // Labels show host names, entry names and server texts: characters,
    // never markup (a label guesses rich text from a tag otherwise).
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setObjectName(name);
    label->setGeometry(x, y, w, h);
    return label;
}

QLineEdit *MakeEdit(QWidget *parent, const QString &name, int x, int y, int w)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(x, y, w, 19);
    return edit;
}

QSpinBox *MakeSpin(QWidget *parent, const QString &name, int min, int max, int x, int y, int w)
{
    auto *spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(min, max);
    spin->setGeometry(x, y, w, 19);
    return spin;
}

QCheckBox *MakeCheck(QWidget *parent, const QString &name, const QString &caption, int x, int y,
                     int w)
{
    auto *check = new QCheckBox(caption, parent);
    check->setObjectName(name);
    check->setGeometry(x, y, w, 17);
    return check;
}
