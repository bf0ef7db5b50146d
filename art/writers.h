// File writers of the picture generator: baseline JPEG through libjpeg-turbo and
// an RLE8 AVI with one shared palette.
#pragma once

#include <QImage>
#include <QList>
#include <QString>

// Writes img as a baseline JPEG (4:4:4, given quality); false with *error on failure.
bool WriteJpeg(const QImage &img, const QString &path, int quality, QString *error);

// Builds one 256-colour palette for all frames and writes them as RLE8 key frames
// of an uncompressed-audio-free AVI at fps frames per second.
bool WriteRle8Avi(const QList<QImage> &frames, int fps, const QString &path, QString *error);

// Encodes one indexed row-major bitmap (width x height, bottom row first on output)
// as RLE8: runs, absolute runs, end-of-line after each row, end-of-bitmap at the end.
QByteArray EncodeRle8(const QImage &indexed);
