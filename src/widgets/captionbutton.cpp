#include "widgets/captionbutton.h"

#include "widgets/picturebutton.h"
#include "desktop/pictures.h"

#include <QLabel>

TPictureButton *MakeCaptionButton(QWidget *parent, const QString &name,
                                  const QString &captionName, const QString &caption, int x,
                                  int y, int width, QLabel **captionOut)
{
    auto *button = new TPictureButton(parent);
    button->setObjectName(name);
    button->setGeometry(x, y, width, 19);
    // The stock face is 60 pixels wide; wider buttons stretch it.
    button->setScaledContents(true);
    button->SetImages({desktop::Picture(QStringLiteral("button.png"))});
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(caption);
    label->setObjectName(captionName);
    label->setGeometry(x, y, width, 19);
    label->setAlignment(Qt::AlignCenter);
    label->setAttribute(Qt::WA_TranslucentBackground);
    button->SetCaptionLabel(label, true);
    *captionOut = label;
    return button;
}
