// The faces the window's text is drawn in.
#pragma once

#include <QFont>
#include <QStringList>

namespace desktop {

// Tahoma, for which the window's boxes were drawn, where it is installed;
// else Liberation Sans, which has Arial's widths, narrow enough for every
// caption (Debian's fonts-liberation2: run.sh installs it and the package
// recommends it); DejaVu Sans for characters neither has. DejaVu alone is
// wider and cuts captions off.
QStringList WindowFaces();

// A font of those faces, `pixels` high.
QFont WindowFont(int pixels);

} // namespace desktop
