// Drawing helpers shared by the pictures: metal surfaces, bevels, screws and
// the spinning-globe logo.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>

// The image's area in the window's pixels (its size over its device pixel
// ratio). The pixel-level helpers below take their rectangles in these too.
inline QRect Area(const QImage &img)
{
    return QRect(QPoint(0, 0), img.deviceIndependentSize().toSize());
}

// Fills r with brushed metal: base colour with long horizontal streaks of +-amp.
// seed makes every surface repeatable from run to run.
void BrushedMetal(QImage &img, const QRect &r, QColor base, int amp, unsigned seed);

// Adds fine +-amp grain to every pixel of r.
void Grain(QImage &img, const QRect &r, int amp, unsigned seed);

// Raised (or sunk) one-pixel bevel inside r.
void Bevel(QPainter &p, const QRectF &r, bool raised, QColor light, QColor dark);

// A recessed well: dark inner fill, shadowed top-left, lit bottom-right, and a
// thin teal hairline just inside.
void Well(QPainter &p, const QRectF &r, QColor fill, bool hairline);

// A small cross-head screw centred on c.
void Screw(QPainter &p, QPointF c, qreal radius, qreal angleDeg);

// The logo: a teal wireframe globe tilted towards the viewer, turned by
// phase (0..1 is one full turn), with an orbit ring carrying a bright packet.
void Globe(QPainter &p, QPointF c, qreal r, qreal phase, bool detailed);

// Teal accent colours used throughout.
inline QColor Teal(int alpha = 255) { return QColor(40, 200, 210, alpha); }
inline QColor DeepTeal(int alpha = 255) { return QColor(10, 90, 100, alpha); }
