// Reader for the silent AVI clips the logo animation plays: one video stream,
// uncompressed 8-bit (palette) or 24-bit frames, or RLE8. Parsing and decoding
// are pure functions over bytes; only LoadAvi touches the file system.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

namespace desktop {

// Bounds on what a clip may declare; anything beyond is taken as hostile.
constexpr int kAviMaxSide = 4096;
constexpr int kAviMaxFrames = 100000;

constexpr quint32 kBiRgb = 0;    // uncompressed rows
constexpr quint32 kBiRle8 = 1;   // 8-bit run-length encoding

// A parsed clip: the video stream's format and its frames, still encoded.
struct TAviMovie {
    int Width = 0;                 // frame width in pixels
    int Height = 0;                // frame height in pixels (always positive)
    int BitCount = 0;              // 8 or 24
    quint32 Compression = kBiRgb;  // kBiRgb or kBiRle8
    bool TopDown = false;          // uncompressed rows stored top row first
    quint32 MicroSecPerFrame = 0;  // display time of one frame
    QList<QRgb> Palette;           // 256 entries for 8-bit clips (unused ones black)
    QList<QByteArray> Frames;      // frame chunks in play order

    // Milliseconds between frames, at least 1; 66 when the clip names no rate.
    int FrameIntervalMs() const;
};

// Parses a whole AVI file. False with a reason in *error when the file is not
// a RIFF AVI, is truncated, declares sizes beyond the data or the bounds above,
// or has no playable video stream.
bool ParseAvi(const QByteArray &data, TAviMovie *movie, QString *error = nullptr);

// Decodes RLE8 data over *frame (Format_Indexed8; pixels the data skips keep
// their value, as delta frames expect). Rows run bottom-up. Runs past the
// right edge or the top are clipped. False when the data breaks off inside a
// code or lacks its end-of-bitmap marker.
bool DecodeRle8(const QByteArray &data, QImage *frame, QString *error = nullptr);

// Decodes frame index of movie. previous is the picture of the frame before
// (used by RLE8 delta frames; may be null). 8-bit clips give Format_Indexed8
// with the palette, 24-bit ones Format_RGB32; null image with *error on failure.
QImage DecodeAviFrame(const TAviMovie &movie, int index, const QImage &previous,
                      QString *error = nullptr);

// Reads and parses a file (at most 64 MB).
bool LoadAvi(const QString &path, TAviMovie *movie, QString *error = nullptr);

} // namespace desktop
