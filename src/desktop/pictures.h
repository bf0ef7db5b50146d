// The program's pictures, compiled in as Qt resources under ":/pictures/".
#pragma once

#include <QPixmap>
#include <QString>

// The picture of that name ("background.jpg", "switch_on.png", ...). JPEGs are
// decoded through platform::LoadJpeg, other formats by Qt. Pictures are loaded
// once and cached; an unknown name gives a null pixmap.
QPixmap Picture(const QString &name);
