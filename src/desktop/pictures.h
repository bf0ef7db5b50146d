// The program's pictures, compiled in as Qt resources under ":/pictures/".
// Each comes drawn twice: at the window's own size and at twice that
// ("name@2x.png"), for windows drawn larger than 100 %.
#pragma once

#include <QPixmap>
#include <QString>

namespace desktop {

// The picture of that name ("background.jpg", "switch_on.png", ...) for the
// window's scale: the application's device pixel ratio. Its size in the
// window's pixels is always the picture's own. JPEGs are decoded through
// desktop::LoadJpeg, other formats by Qt. Pictures are loaded once and
// cached; an unknown name gives a null pixmap.
QPixmap Picture(const QString &name);

// The same for a given ratio: the picture itself at 1; above 1 its double-size
// drawing, brought to the ratio (smoothly) and marked with it.
QPixmap Picture(const QString &name, qreal ratio);

} // namespace desktop
