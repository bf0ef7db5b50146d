#include "widgets/graphdraw.h"
#include "desktop/fonts.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <cmath>

namespace graph {

void ClearResponseHistory(TResponseHistory &history)
{
    history.fill(0);
}

void PushResponse(TResponseHistory &history, int ms)
{
    for (int i = HistorySlots - 1; i > 0; --i)
        history[i] = history[i - 1];
    history[0] = ms / MsPerUnit;
}

// Height of the circle at 4n pixels from its centre, as a real number.
static double CircleHeight(int n)
{
    const double dx = 4.0 * n;
    return std::sqrt(double(GraphRadius * GraphRadius) - dx * dx);
}

// Rounds to the nearest integer with exact halves going to the even neighbour.
static int RoundEven(double v)
{
    const double fl = std::floor(v);
    const double diff = v - fl;
    if (diff > 0.5)
        return int(fl) + 1;
    if (diff < 0.5)
        return int(fl);
    return (std::fmod(fl, 2.0) == 0.0) ? int(fl) : int(fl) + 1;
}

int SlotLimit(int slot)
{
    const int n = slot < GraphSlotsDrawn - 1 ? slot : GraphSlotsDrawn - 2;
    return RoundEven(CircleHeight(n));
}

// Windows-style text output: (x, y) is the top-left corner of the text cell,
// not the baseline.
static void TextAt(QPainter &p, int x, int y, const QString &text)
{
    p.drawText(QPoint(x, y + p.fontMetrics().ascent()), text);
}

void DrawGraphBackground(QImage &image)
{
    const int w = image.width(), h = image.height();
    const int cx = w / 2, cy = h / 2;
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor::fromRgb(GraphPenColour), 0));
    p.setBrush(Qt::NoBrush);

    // The box runs from (7, 0) to (w - 7, h) with the right and bottom edges
    // excluded, so the outline lies on pixels 7..w-8 and 0..h-1.
    p.drawEllipse(QRect(7, 0, w - 15, h - 1));

    p.drawLine(cx, 0, cx, h - 1);
    p.drawLine(7, cy, w - 8, cy);
    for (int i = 1; i <= 29; ++i)
        p.drawLine(cx - 1, 4 * i, cx + 1, 4 * i);
    for (int i = 1; i <= 14; ++i)
        p.drawLine(cx - 4 * i, cy + 1, cx - 4 * i, cy - 1);
    for (int i = 1; i <= 14; ++i)
        p.drawLine(cx + 4 * i, cy + 1, cx + 4 * i, cy - 1);

    QFont font;
    font.setFamilies(desktop::WindowFaces());
    font.setPointSize(7);
    p.setFont(font);
    p.setPen(QColor::fromRgb(GraphLabelColour));
    p.setBackgroundMode(Qt::TransparentMode);
    const QFontMetrics fm = p.fontMetrics();
    // The widest label that could ever appear sets the column, so the labels
    // line up on their left edges just left of the vertical axis.
    const int tw = fm.horizontalAdvance(QStringLiteral("8000 ms."));
    const int th = fm.height();
    static const char *const labels[] = {"400 ms", "800 ms", "1200 ms", "1600 ms"};
    for (int i = 0; i < 4; ++i)
        TextAt(p, cx - tw, cy - th / 2 - 10 * (i + 1), QString::fromLatin1(labels[i]));
}

void DrawResponseLine(QImage &image, TResponseHistory &history)
{
    const int cx = image.width() / 2, cy = image.height() / 2;
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor::fromRgb(GraphLineColour), 0));
    for (int n = GraphSlotsDrawn - 2; n >= 0; --n) {
        const double limit = CircleHeight(n);
        if (history[n + 1] > limit)
            history[n + 1] = RoundEven(limit);
        if (history[n] > limit)
            history[n] = RoundEven(limit);
        p.drawLine(cx - 4 * n, cy - history[n + 1], cx - 4 * (n - 1), cy - history[n]);
    }
}

} // namespace graph
