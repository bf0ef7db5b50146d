#include "paint.h"

#include <QPainterPath>
#include <QRadialGradient>
#include <QLinearGradient>
#include <cmath>
#include <random>
#include <vector>

namespace {
int Clamp8(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
}

namespace {
// r, given in the window's pixels, in the image's own pixels.
QRect Pixels(const QImage &img, const QRect &r)
{
    const int s = int(img.devicePixelRatio());
    return QRect(r.x() * s, r.y() * s, r.width() * s, r.height() * s).intersected(img.rect());
}
} // namespace

void BrushedMetal(QImage &img, const QRect &r, QColor base, int amp, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const QRect rr = Pixels(img, r);
    // Streaks keep their length in the window's pixels at any scale, and
    // their strength: the kick is cut as the walk takes more, smaller steps.
    const double keep = std::pow(0.93, 1.0 / img.devicePixelRatio());
    const double kick = 0.35 * std::sqrt((1 - keep * keep) / (1 - 0.93 * 0.93));
    std::vector<double> row(rr.width());
    for (int y = rr.top(); y <= rr.bottom(); ++y) {
        // Random walk smoothed along the row: streaks tens of pixels long.
        double v = u(rng), rowBias = u(rng) * 0.5;
        for (int x = 0; x < rr.width(); ++x) {
            v = v * keep + u(rng) * kick;
            row[x] = v * 0.7 + rowBias + u(rng) * 0.25;
        }
        QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < rr.width(); ++x) {
            const int d = int(std::lround(row[x] * amp));
            line[rr.left() + x] = qRgba(Clamp8(base.red() + d), Clamp8(base.green() + d),
                                        Clamp8(base.blue() + d), 255);
        }
    }
}

void Grain(QImage &img, const QRect &r, int amp, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> u(-amp, amp);
    const QRect rr = Pixels(img, r);
    for (int y = rr.top(); y <= rr.bottom(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = rr.left(); x <= rr.right(); ++x) {
            const QRgb c = line[x];
            const int d = u(rng);
            line[x] = qRgba(Clamp8(qRed(c) + d), Clamp8(qGreen(c) + d), Clamp8(qBlue(c) + d),
                            qAlpha(c));
        }
    }
}

void Bevel(QPainter &p, const QRectF &r, bool raised, QColor light, QColor dark)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor tl = raised ? light : dark, br = raised ? dark : light;
    p.setPen(tl);
    p.drawLine(r.topLeft(), QPointF(r.right() - 1, r.top()));
    p.drawLine(r.topLeft(), QPointF(r.left(), r.bottom() - 1));
    p.setPen(br);
    p.drawLine(QPointF(r.left() + 1, r.bottom()), r.bottomRight());
    p.drawLine(QPointF(r.right(), r.top() + 1), r.bottomRight());
    p.restore();
}

void Well(QPainter &p, const QRectF &r, QColor fill, bool hairline)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(r, fill);
    Bevel(p, r, false, QColor(120, 126, 132), QColor(0, 0, 0));
    Bevel(p, r.adjusted(1, 1, -1, -1), false, QColor(58, 62, 66), QColor(8, 9, 10));
    if (hairline) {
        p.setPen(DeepTeal(200));
        p.setBrush(Qt::NoBrush);
        p.drawRect(r.adjusted(2, 2, -3, -3));
    }
    p.restore();
}

void Screw(QPainter &p, QPointF c, qreal radius, qreal angleDeg)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    QRadialGradient g(c - QPointF(radius * 0.4, radius * 0.4), radius * 1.6);
    g.setColorAt(0, QColor(190, 196, 202));
    g.setColorAt(0.6, QColor(95, 101, 108));
    g.setColorAt(1, QColor(40, 43, 47));
    p.setPen(QPen(QColor(10, 10, 12), 0.8));
    p.setBrush(g);
    p.drawEllipse(c, radius, radius);
    p.translate(c);
    p.rotate(angleDeg);
    p.setPen(QPen(QColor(25, 27, 30), radius * 0.35, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(-radius * 0.6, 0), QPointF(radius * 0.6, 0));
    p.drawLine(QPointF(0, -radius * 0.6), QPointF(0, radius * 0.6));
    p.restore();
}

namespace {

struct P3 { double x, y, z; };

// Tilt the globe's axis towards the viewer so the top cap shows.
P3 Tilt(P3 v, double tilt)
{
    const double c = std::cos(tilt), s = std::sin(tilt);
    return {v.x, v.y * c - v.z * s, v.y * s + v.z * c};
}

// Draws a 3-D polyline; segments on the far side are dim, the near side bright.
void Curve(QPainter &p, QPointF c, const std::vector<P3> &pts, const QPen &front, const QPen &back)
{
    for (size_t i = 1; i < pts.size(); ++i) {
        const P3 &a = pts[i - 1], &b = pts[i];
        p.setPen((a.z + b.z) >= 0 ? front : back);
        p.drawLine(QPointF(c.x() + a.x, c.y() + a.y), QPointF(c.x() + b.x, c.y() + b.y));
    }
}

} // namespace

void Globe(QPainter &p, QPointF c, qreal r, qreal phase, bool detailed)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    const double tilt = -0.38, turn = phase * 2 * M_PI;
    const int seg = detailed ? 72 : 36;

    // Soft halo.
    QRadialGradient halo(c, r * 1.45);
    halo.setColorAt(0.6, Teal(70));
    halo.setColorAt(1, Teal(0));
    p.setPen(Qt::NoPen);
    p.setBrush(halo);
    p.drawEllipse(c, r * 1.45, r * 1.45);

    // Orbit ring, far half first (behind the sphere).
    const double ringR = r * 1.32, ringTilt = 1.18, ringRoll = -0.35;
    auto ringPoint = [&](double a) {
        P3 v{ringR * std::cos(a), 0, ringR * std::sin(a)};
        v = Tilt(v, ringTilt);
        const double cr = std::cos(ringRoll), sr = std::sin(ringRoll);
        return P3{v.x * cr - v.y * sr, v.x * sr + v.y * cr, v.z};
    };
    std::vector<P3> ring;
    for (int i = 0; i <= seg; ++i)
        ring.push_back(ringPoint(2 * M_PI * i / seg));
    const QPen ringFront(QColor(120, 235, 240, 230), detailed ? r * 0.07 : 1.0, Qt::SolidLine, Qt::RoundCap);
    const QPen ringBack(QColor(40, 130, 140, 150), detailed ? r * 0.05 : 0.8, Qt::SolidLine, Qt::RoundCap);
    const QPen none(Qt::NoPen);
    Curve(p, c, ring, none, ringBack);

    // The sphere body: lit from the upper left.
    QRadialGradient body(c - QPointF(r * 0.35, r * 0.4), r * 1.35);
    body.setColorAt(0, QColor(70, 215, 225));
    body.setColorAt(0.35, QColor(16, 120, 135));
    body.setColorAt(0.8, QColor(4, 40, 48));
    body.setColorAt(1, QColor(2, 16, 20));
    p.setBrush(body);
    p.setPen(QPen(QColor(110, 225, 232), detailed ? r * 0.03 : 0.8));
    p.drawEllipse(c, r, r);

    // Grid: meridians turning with the phase, parallels fixed.
    const qreal gw = detailed ? std::max<qreal>(0.8, r * 0.022) : 0.7;
    const QPen gFront(QColor(170, 250, 255, 210), gw), gBack(QColor(60, 170, 180, 70), gw);
    const int meridians = 6;
    for (int m = 0; m < meridians; ++m) {
        const double lon = turn + M_PI * m / meridians;
        std::vector<P3> pts;
        for (int i = 0; i <= seg; ++i) {
            const double t = 2 * M_PI * i / seg;
            pts.push_back(Tilt({r * std::sin(t) * std::sin(lon), -r * std::cos(t),
                                r * std::sin(t) * std::cos(lon)}, tilt));
        }
        Curve(p, c, pts, gFront, gBack);
    }
    for (double lat : {-0.9, -0.45, 0.0, 0.45, 0.9}) {
        std::vector<P3> pts;
        for (int i = 0; i <= seg; ++i) {
            const double a = 2 * M_PI * i / seg;
            pts.push_back(Tilt({r * std::cos(lat) * std::cos(a), -r * std::sin(lat),
                                r * std::cos(lat) * std::sin(a)}, tilt));
        }
        Curve(p, c, pts, gFront, gBack);
    }

    // Specular highlight.
    QRadialGradient spec(c - QPointF(r * 0.42, r * 0.48), r * 0.55);
    spec.setColorAt(0, QColor(255, 255, 255, 150));
    spec.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(spec);
    p.drawEllipse(c, r, r);

    // Near half of the ring, then the packet travelling on it.
    Curve(p, c, ring, ringFront, none);
    const P3 pk = ringPoint(-turn * 2 + 0.6);
    const QPointF pp(c.x() + pk.x, c.y() + pk.y);
    const bool hidden = pk.z < 0 && std::hypot(pk.x, pk.y) < r;
    if (!hidden) {
        const qreal pr = std::max<qreal>(1.2, r * 0.13);
        QRadialGradient glow(pp, pr * 2.6);
        glow.setColorAt(0, QColor(255, 255, 255, 255));
        glow.setColorAt(0.3, QColor(150, 255, 250, 220));
        glow.setColorAt(1, QColor(40, 220, 230, 0));
        p.setBrush(glow);
        p.drawEllipse(pp, pr * 2.6, pr * 2.6);
    }
    p.restore();
}
