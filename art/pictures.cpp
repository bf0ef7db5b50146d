#include "pictures.h"
#include "paint.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>

namespace {

// How many pixels each of the window's pixels gets: 1, or 2 for the double
// drawings. Everything is drawn in the window's pixels through a painter on
// an image of that device pixel ratio, so lines and curves come out sharp at
// either size.
int gScale = 1;

QImage Blank(int w, int h, bool alpha)
{
    QImage img(w * gScale, h * gScale, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(gScale);
    img.fill(alpha ? Qt::transparent : QColor(0, 0, 0));
    return img;
}

// Charcoal body with a faint vertical falloff and grain.
void Charcoal(QImage &img)
{
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, Area(img).height());
    g.setColorAt(0, QColor(34, 37, 41));
    g.setColorAt(1, QColor(16, 17, 19));
    p.fillRect(Area(img), g);
    p.end();
    Grain(img, Area(img), 3, 7);
}

// Brushed steel plate with rounded look, bevel and four corner screws.
void Plate(QImage &img, const QRect &r, unsigned seed, bool screws)
{
    BrushedMetal(img, r, QColor(52, 56, 61), 9, seed);
    QPainter p(&img);
    QLinearGradient shade(r.topLeft(), r.bottomLeft());
    shade.setColorAt(0, QColor(255, 255, 255, 22));
    shade.setColorAt(0.5, QColor(0, 0, 0, 0));
    shade.setColorAt(1, QColor(0, 0, 0, 60));
    p.fillRect(r, shade);
    Bevel(p, r, true, QColor(128, 134, 140), QColor(6, 7, 8));
    Bevel(p, r.adjusted(1, 1, -1, -1), true, QColor(84, 89, 95), QColor(24, 26, 28));
    if (screws) {
        const qreal m = 5.5;
        Screw(p, QPointF(r.left() + m, r.top() + m), 2.6, 20);
        Screw(p, QPointF(r.right() - m + 1, r.top() + m), 2.6, 65);
        Screw(p, QPointF(r.left() + m, r.bottom() - m + 1), 2.6, 110);
        Screw(p, QPointF(r.right() - m + 1, r.bottom() - m + 1), 2.6, 155);
    }
}

// The radar dial in the information column, under the graphs and the logo.
void Dial(QPainter &p)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c(kDialCX + 0.5, kDialCY + 0.5);
    // Bezel.
    QConicalGradient bez(c, 135);
    bez.setColorAt(0, QColor(170, 177, 184));
    bez.setColorAt(0.25, QColor(60, 64, 70));
    bez.setColorAt(0.5, QColor(150, 157, 164));
    bez.setColorAt(0.75, QColor(50, 54, 58));
    bez.setColorAt(1, QColor(170, 177, 184));
    p.setPen(QPen(QColor(4, 5, 6), 1));
    p.setBrush(bez);
    p.drawEllipse(c, kDialR + 5.5, kDialR + 5.5);
    // Glass: deep teal-black, slightly lighter towards the centre.
    QRadialGradient glass(c, kDialR + 2);
    glass.setColorAt(0, QColor(8, 34, 38));
    glass.setColorAt(0.7, QColor(4, 20, 23));
    glass.setColorAt(1, QColor(1, 6, 8));
    p.setPen(QPen(QColor(0, 0, 0), 1.5));
    p.setBrush(glass);
    p.drawEllipse(c, kDialR + 2, kDialR + 2);
    // Range rings and bearing spokes, faint so the graph's own lines read.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(20, 80, 86, 150), 0.8));
    for (int rr : {19, 38})
        p.drawEllipse(c, rr, rr);
    p.setPen(QPen(QColor(20, 80, 86, 90), 0.7));
    for (int a = 0; a < 180; a += 30) {
        if (a == 0 || a == 90)
            continue;
        const double t = a * M_PI / 180;
        p.drawLine(c + QPointF(std::cos(t), std::sin(t)) * kDialR,
                   c - QPointF(std::cos(t), std::sin(t)) * kDialR);
    }
    // A sweep wedge trailing the north-east bearing.
    QConicalGradient sweep(c, 48);
    sweep.setColorAt(0, QColor(40, 210, 220, 70));
    sweep.setColorAt(0.16, QColor(40, 210, 220, 0));
    sweep.setColorAt(1, QColor(40, 210, 220, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sweep);
    p.drawEllipse(c, kDialR, kDialR);
    // Bearing ticks on the bezel.
    for (int a = 0; a < 360; a += 10) {
        const double t = a * M_PI / 180;
        const QPointF d(std::cos(t), std::sin(t));
        p.setPen(QPen(a % 30 == 0 ? Teal(230) : QColor(20, 24, 28, 200), a % 30 == 0 ? 1.2 : 0.8));
        p.drawLine(c + d * (kDialR + 2.5), c + d * (kDialR + (a % 30 == 0 ? 5.5 : 4.5)));
    }
    // Glass reflection.
    QLinearGradient refl(c.x(), c.y() - kDialR, c.x(), c.y());
    refl.setColorAt(0, QColor(255, 255, 255, 26));
    refl.setColorAt(1, QColor(255, 255, 255, 0));
    QPainterPath arc;
    arc.addEllipse(c, kDialR + 1, kDialR + 1);
    QPainterPath cut;
    cut.addEllipse(c + QPointF(0, kDialR * 0.55), kDialR * 1.25, kDialR * 1.05);
    p.setBrush(refl);
    p.drawPath(arc.subtracted(cut));
    p.restore();
}

} // namespace

QImage DrawBackground()
{
    QImage img = Blank(449, 252, false);
    Charcoal(img);
    // Left column: the tool switches sit on a brushed plate.
    Plate(img, QRect(5, 6, 108, 207), 11, true);
    // Information column plate.
    Plate(img, QRect(301, 6, 143, 207), 12, false);
    QPainter p(&img);
    // Content well for the narrow panels (panels sit at 125,17, 167 x 187).
    Well(p, QRectF(121, 13, 175, 195), QColor(0, 0, 0), true);
    // The dial and the labels well under it.
    Dial(p);
    Well(p, QRectF(309, 143, 130, 64), QColor(3, 8, 9), true);
    p.setRenderHint(QPainter::Antialiasing, true);
    Screw(p, QPointF(306.5, 11.5), 2.4, 30);
    Screw(p, QPointF(438.5, 11.5), 2.4, 75);
    Screw(p, QPointF(306.5, 138.5), 2.4, 120);
    Screw(p, QPointF(438.5, 138.5), 2.4, 10);
    // Status strip along the bottom (status text at 20,224; gauge 312,226).
    Well(p, QRectF(5, 218, 439, 27), QColor(4, 6, 7), false);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(DeepTeal(230));
    p.drawLine(8, 221, 440, 221);
    QLinearGradient glow(0, 0, 449, 0);
    glow.setColorAt(0, Teal(0));
    glow.setColorAt(0.5, Teal(160));
    glow.setColorAt(1, Teal(0));
    p.setPen(QPen(QBrush(glow), 1));
    p.drawLine(8, 242, 440, 242);
    // Thin cyan rule at the very top edge, under the menu bar.
    p.setPen(QPen(QBrush(glow), 1));
    p.drawLine(0, 0, 448, 0);
    // Column separators: small engraved dots along the switch plate's edge.
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int y = 24; y < 206; y += 9) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(10, 11, 12));
        p.drawEllipse(QPointF(108.5, y), 1.1, 1.1);
        p.setBrush(QColor(110, 116, 122, 120));
        p.drawEllipse(QPointF(109.1, y + 0.6), 0.6, 0.6);
    }
    return img;
}

QImage DrawBackdrop()
{
    QImage img = Blank(329, 203, false);
    Charcoal(img);
    Plate(img, Area(img), 21, true);
    QPainter p(&img);
    // The wide panels sit at 10,8 inside this picture, 309 x 187.
    Well(p, QRectF(7, 5, 315, 193), QColor(0, 0, 0), true);
    return img;
}

QImage DrawAbout()
{
    QImage img = Blank(320, 200, false);
    QPainter p(&img);
    QLinearGradient sky(0, 0, 0, 200);
    sky.setColorAt(0, QColor(6, 14, 17));
    sky.setColorAt(0.6, QColor(10, 28, 32));
    sky.setColorAt(1, QColor(2, 5, 6));
    p.fillRect(Area(img), sky);
    p.setRenderHint(QPainter::Antialiasing, true);
    // A faint perspective grid on the floor.
    p.setPen(QPen(QColor(30, 140, 150, 70), 0.8));
    const QPointF vanish(160, 120);
    for (int x = -200; x <= 520; x += 40)
        p.drawLine(vanish, QPointF(x, 200));
    for (double t = 0.08; t < 1; t = t * 1.6) {
        const double y = 120 + 80 * t;
        p.drawLine(QPointF(0, y), QPointF(320, y));
    }
    // Horizon glow.
    QRadialGradient hz(QPointF(110, 120), 170);
    hz.setColorAt(0, Teal(90));
    hz.setColorAt(1, Teal(0));
    p.setPen(Qt::NoPen);
    p.setBrush(hz);
    p.drawRect(Area(img));
    // Signal arcs radiating from the globe.
    for (int i = 0; i < 4; ++i) {
        p.setPen(QPen(Teal(150 - i * 30), 2.0 - i * 0.3, Qt::SolidLine, Qt::RoundCap));
        const double rr = 74 + i * 16;
        p.drawArc(QRectF(92 - rr, 86 - rr, 2 * rr, 2 * rr), -35 * 16, 70 * 16);
    }
    Globe(p, QPointF(92, 86), 50, 0.08, true);
    // Frame.
    p.setRenderHint(QPainter::Antialiasing, false);
    Bevel(p, Area(img), true, QColor(90, 96, 102), QColor(0, 0, 0));
    p.setPen(DeepTeal(255));
    p.setBrush(Qt::NoBrush);
    p.drawRect(Area(img).adjusted(2, 2, -3, -3));
    p.end();
    Grain(img, Area(img), 2, 31);
    return img;
}

QImage DrawSwitch(bool on)
{
    QImage img = Blank(52, 23, true);
    QImage metal = Blank(52, 23, false);
    BrushedMetal(metal, Area(metal), QColor(150, 157, 165), 16, on ? 41 : 41);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath body;
    body.addRoundedRect(QRectF(0.5, 0.5, 51, 22), 4, 4);
    p.setClipPath(body);
    p.drawImage(0, 0, metal);
    QLinearGradient sheen(0, 0, 0, 23);
    sheen.setColorAt(0, QColor(255, 255, 255, 70));
    sheen.setColorAt(0.45, QColor(255, 255, 255, 0));
    sheen.setColorAt(1, QColor(0, 0, 0, 110));
    p.fillRect(Area(img), sheen);
    p.setClipping(false);
    p.setPen(QPen(QColor(10, 11, 12), 1));
    p.setBrush(Qt::NoBrush);
    p.drawPath(body);
    p.setPen(QPen(QColor(255, 255, 255, 90), 1));
    p.drawLine(QPointF(4, 1.5), QPointF(48, 1.5));
    // Slot.
    const QRectF slot(6.5, 7.5, 39, 8);
    p.setPen(QPen(QColor(0, 0, 0), 1));
    QLinearGradient sg(0, slot.top(), 0, slot.bottom());
    sg.setColorAt(0, QColor(5, 6, 7));
    sg.setColorAt(1, QColor(30, 33, 36));
    p.setBrush(sg);
    p.drawRoundedRect(slot, 3, 3);
    if (on) {
        QLinearGradient lit(slot.left(), 0, slot.right(), 0);
        lit.setColorAt(0, QColor(40, 230, 240));
        lit.setColorAt(1, QColor(10, 120, 130));
        p.setPen(Qt::NoPen);
        p.setBrush(lit);
        p.drawRoundedRect(slot.adjusted(1.5, 1.5, -14, -1.5), 2, 2);
    }
    // Knob.
    const QRectF knob = on ? QRectF(29.5, 3.5, 18, 16) : QRectF(4.5, 3.5, 18, 16);
    QLinearGradient kg(0, knob.top(), 0, knob.bottom());
    kg.setColorAt(0, QColor(236, 240, 244));
    kg.setColorAt(0.5, QColor(160, 167, 175));
    kg.setColorAt(1, QColor(88, 94, 101));
    p.setPen(QPen(QColor(20, 22, 24), 1));
    p.setBrush(kg);
    p.drawRoundedRect(knob, 3, 3);
    p.setPen(QPen(QColor(70, 75, 80), 1));
    for (int i = 0; i < 3; ++i) {
        const qreal x = knob.left() + 6 + i * 3;
        p.drawLine(QPointF(x, knob.top() + 4), QPointF(x, knob.bottom() - 4));
    }
    p.setPen(QPen(QColor(255, 255, 255, 140), 1));
    for (int i = 0; i < 3; ++i) {
        const qreal x = knob.left() + 7 + i * 3;
        p.drawLine(QPointF(x, knob.top() + 4), QPointF(x, knob.bottom() - 4));
    }
    return img;
}

QImage DrawArrow(bool open)
{
    QImage img = Blank(15, 17, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient g(0, 0, 0, 17);
    g.setColorAt(0, QColor(78, 84, 90));
    g.setColorAt(1, QColor(26, 28, 31));
    p.setPen(QPen(QColor(6, 7, 8), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 14, 16), 3, 3);
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    p.drawLine(QPointF(3, 1.5), QPointF(12, 1.5));
    QPolygonF tri;
    if (open)
        tri << QPointF(3.5, 6) << QPointF(11.5, 6) << QPointF(7.5, 11.5);
    else
        tri << QPointF(5, 4.5) << QPointF(10.5, 8.5) << QPointF(5, 12.5);
    p.setPen(QPen(open ? QColor(180, 255, 255) : QColor(40, 170, 180), 0.8));
    p.setBrush(open ? QColor(60, 230, 240) : QColor(20, 130, 140));
    p.drawPolygon(tri);
    return img;
}

QImage DrawLamp(bool green)
{
    QImage img = Blank(9, 9, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QPointF c(4.5, 4.5);
    QRadialGradient g(QPointF(3.6, 3.4), 5.2);
    if (green) {
        g.setColorAt(0, QColor(200, 255, 190));
        g.setColorAt(0.35, QColor(40, 230, 60));
        g.setColorAt(0.8, QColor(0, 120, 20));
        g.setColorAt(1, QColor(0, 50, 8));
    } else {
        g.setColorAt(0, QColor(255, 200, 190));
        g.setColorAt(0.35, QColor(240, 40, 30));
        g.setColorAt(0.8, QColor(130, 8, 4));
        g.setColorAt(1, QColor(60, 0, 0));
    }
    p.setPen(QPen(QColor(0, 0, 0, 220), 0.9));
    p.setBrush(g);
    p.drawEllipse(c, 4.0, 4.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(3.3, 3.0), 1.0, 0.8);
    return img;
}

QImage DrawYesNo(bool yes)
{
    QImage img = Blank(21, 17, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    QLinearGradient g(0, 0, 0, 17);
    g.setColorAt(0, QColor(84, 90, 96));
    g.setColorAt(1, QColor(28, 30, 33));
    p.setPen(QPen(QColor(5, 6, 7), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, 20, 16), 3, 3);
    p.setPen(QPen(QColor(255, 255, 255, 70), 1));
    p.drawLine(QPointF(3, 1.5), QPointF(18, 1.5));
    if (yes) {
        QPainterPath tick;
        tick.moveTo(6, 8.5);
        tick.lineTo(9.2, 12);
        tick.lineTo(15, 4.8);
        p.setPen(QPen(QColor(0, 60, 10), 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
        p.setPen(QPen(QColor(70, 240, 90), 1.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(tick);
    } else {
        for (const auto &pen : {QPen(QColor(70, 0, 0), 3.2, Qt::SolidLine, Qt::RoundCap),
                                QPen(QColor(250, 70, 60), 1.9, Qt::SolidLine, Qt::RoundCap)}) {
            p.setPen(pen);
            p.drawLine(QPointF(7, 4.5), QPointF(14, 11.5));
            p.drawLine(QPointF(14, 4.5), QPointF(7, 11.5));
        }
    }
    return img;
}

QImage DrawButton(int width)
{
    QImage img = Blank(width, 19, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const QRectF r(0.5, 0.5, width - 1, 18);
    QLinearGradient g(0, 0, 0, 19);
    g.setColorAt(0, QColor(74, 80, 87));
    g.setColorAt(0.48, QColor(44, 48, 53));
    g.setColorAt(0.52, QColor(32, 35, 39));
    g.setColorAt(1, QColor(22, 24, 27));
    p.setPen(QPen(QColor(4, 5, 6), 1));
    p.setBrush(g);
    p.drawRoundedRect(r, 3.5, 3.5);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1));
    p.drawLine(QPointF(3.5, 1.5), QPointF(width - 3.5, 1.5));
    QLinearGradient lip(0, 0, width, 0);
    lip.setColorAt(0, Teal(0));
    lip.setColorAt(0.5, Teal(150));
    lip.setColorAt(1, Teal(0));
    p.setPen(QPen(QBrush(lip), 1));
    p.drawLine(QPointF(3.5, 17.5), QPointF(width - 3.5, 17.5));
    return img;
}

QImage DrawIcon(int size)
{
    QImage img = Blank(size, size, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    const qreal s = size;
    QLinearGradient g(0, 0, 0, s);
    g.setColorAt(0, QColor(44, 48, 53));
    g.setColorAt(1, QColor(10, 11, 13));
    p.setPen(QPen(QColor(0, 0, 0), 1));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(0.5, 0.5, s - 1, s - 1), s * 0.2, s * 0.2);
    Globe(p, QPointF(s / 2, s / 2), s * (size >= 32 ? 0.30 : 0.31), 0.08, size >= 32);
    return img;
}

QImage DrawIspImages()
{
    QImage img = Blank(38, 17, true);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < 2; ++i) {
        const qreal x0 = i * 19;
        const QColor screen = i ? QColor(60, 235, 245) : QColor(18, 140, 150);
        // A small host: monitor on a stand, with a network stub.
        QLinearGradient g(0, 1, 0, 12);
        g.setColorAt(0, QColor(120, 127, 134));
        g.setColorAt(1, QColor(50, 54, 58));
        p.setPen(QPen(QColor(10, 11, 12), 1));
        p.setBrush(g);
        p.drawRoundedRect(QRectF(x0 + 2.5, 1.5, 14, 10), 1.5, 1.5);
        QLinearGradient sg(0, 3, 0, 10);
        sg.setColorAt(0, screen.lighter(140));
        sg.setColorAt(1, screen.darker(180));
        p.setPen(Qt::NoPen);
        p.setBrush(sg);
        p.drawRect(QRectF(x0 + 4.5, 3.5, 10, 6));
        p.setPen(QPen(QColor(70, 75, 80), 1.4));
        p.drawLine(QPointF(x0 + 9.5, 12), QPointF(x0 + 9.5, 14));
        p.setPen(QPen(QColor(140, 146, 152), 1.2));
        p.drawLine(QPointF(x0 + 5.5, 15), QPointF(x0 + 13.5, 15));
        p.setPen(QPen(i ? QColor(120, 255, 250) : Teal(200), 1));
        p.drawLine(QPointF(x0 + 0.5, 15.5), QPointF(x0 + 4.5, 15.5));
    }
    return img;
}

void SetPictureScale(int scale)
{
    gScale = scale;
}

QList<QImage> DrawSpinFrames(const QImage &background, int count)
{
    QList<QImage> frames;
    const int s = int(background.devicePixelRatio());
    const QImage under = background.copy(kAnimLeft * s, kAnimTop * s, kAnimWidth * s, kAnimHeight * s)
                             .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QPointF c(kDialCX + 0.5 - kAnimLeft, kDialCY + 0.5 - kAnimTop);
    for (int f = 0; f < count; ++f) {
        QImage img = under;
        QPainter p(&img);
        Globe(p, c, 22, double(f) / count, true);
        p.end();
        frames << img.convertToFormat(QImage::Format_RGB32);
    }
    return frames;
}
