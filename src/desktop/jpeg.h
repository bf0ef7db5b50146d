// JPEG pictures decoded with libjpeg-turbo into QImages.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace desktop {

// Largest width or height accepted; bigger headers are taken as hostile.
constexpr int kJpegMaxSide = 16384;
// Largest pixel count accepted (64 megapixels, 256 MB as 32-bit pixels).
constexpr qint64 kJpegMaxPixels = qint64(64) * 1024 * 1024;

// Decodes a complete JPEG held in memory. Colour pictures come back as
// Format_RGB32, grayscale ones as Format_Grayscale8. A corrupt, truncated or
// oversized stream gives a null image and, when error is given, the reason.
QImage DecodeJpeg(const QByteArray &data, QString *error = nullptr);

// Reads a file (a Qt resource path such as ":/pictures/about.jpg" works too)
// and decodes it; null image on any failure.
QImage LoadJpeg(const QString &path);

} // namespace desktop
