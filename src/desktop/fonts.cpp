#include "desktop/fonts.h"

namespace desktop {

QStringList WindowFaces()
{
    return {QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
            QStringLiteral("DejaVu Sans")};
}

QFont WindowFont(int pixels)
{
    QFont font;
    font.setFamilies(WindowFaces());
    font.setPixelSize(pixels);
    return font;
}

} // namespace desktop
