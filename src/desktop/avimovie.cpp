#include "desktop/avimovie.h"

#include <QFile>
#include <algorithm>

namespace desktop {

int TAviMovie::FrameIntervalMs() const
{
    if (MicroSecPerFrame == 0)
        return 66;
    return int(std::max<quint32>(1, (MicroSecPerFrame + 500) / 1000));
}

namespace {

quint16 U16(const QByteArray &d, qint64 at)
{
    return quint16(uchar(d[at]) | uchar(d[at + 1]) << 8);
}

quint32 U32(const QByteArray &d, qint64 at)
{
    return quint32(U16(d, at)) | quint32(U16(d, at + 2)) << 16;
}

bool Tag(const QByteArray &d, qint64 at, const char *tag)
{
    return memcmp(d.constData() + at, tag, 4) == 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// State of one walk over the chunk tree.
struct TWalk {
    TWalk(const QByteArray &d, TAviMovie *m) : data(d), movie(m) {}
    const QByteArray &data;
    TAviMovie *movie;
    QString error;
    int streams = 0;            // strl lists seen so far
    int videoStream = -1;       // index of the first 'vids' stream
    bool inVideoStrl = false;   // inside the strl of the video stream
    bool haveFormat = false;    // its strf was read
    quint32 rate = 0, scale = 0;
    QList<QByteArray> moviFrames;
    qint64 moviStart = -1;      // offset of the 'movi' list type
    qint64 idxStart = -1, idxSize = 0;

    bool Fail(const QString &why) { error = why; return false; }
    bool ReadFormat(qint64 at, qint64 size);
    bool Walk(qint64 begin, qint64 end, const QByteArray &list, int depth);
    bool IsVideoFrame(qint64 at) const;
    QList<QByteArray> FramesFromIndex() const;
};

bool TWalk::ReadFormat(qint64 at, qint64 size)
{
    if (size < 40)
        return Fail(QStringLiteral("Video format record too short"));
    const quint32 hdr = U32(data, at);
    const qint32 w = qint32(U32(data, at + 4)), h = qint32(U32(data, at + 8));
    const int bits = U16(data, at + 14);
    const quint32 comp = U32(data, at + 16), used = U32(data, at + 32);
    if (hdr < 40 || hdr > size)
        return Fail(QStringLiteral("Bad bitmap header size %1").arg(hdr));
    if (w <= 0 || w > kAviMaxSide || h == 0 || h < -kAviMaxSide || h > kAviMaxSide)
        return Fail(QStringLiteral("Frame size %1 x %2 out of range").arg(w).arg(h));
    if (!((bits == 8 && (comp == kBiRgb || comp == kBiRle8)) || (bits == 24 && comp == kBiRgb)))
        return Fail(QStringLiteral("Unsupported frame format: %1 bits, compression %2")
                        .arg(bits).arg(comp));
    if (h < 0 && comp != kBiRgb)
        return Fail(QStringLiteral("Compressed frames cannot be stored top-down"));
    TAviMovie &m = *movie;
    m.Width = w;
    m.Height = h < 0 ? -h : h;
    m.TopDown = h < 0;
    m.BitCount = bits;
    m.Compression = comp;
    m.Palette.clear();
    if (bits == 8) {
        const quint32 count = used ? used : 256;
        if (count > 256)
            return Fail(QStringLiteral("Palette of %1 colours").arg(count));
        if (qint64(hdr) + 4 * qint64(count) > size)
            return Fail(QStringLiteral("Palette runs past its record"));
        for (quint32 i = 0; i < count; ++i) {
            const qint64 p = at + hdr + 4 * i;
            m.Palette << qRgb(uchar(data[p + 2]), uchar(data[p + 1]), uchar(data[p]));
        }
        // Indices beyond the declared colours show black rather than garbage.
        while (m.Palette.size() < 256)
            m.Palette << qRgb(0, 0, 0);
    }
    haveFormat = true;
    return true;
}

// '00db' / '00dc' style chunk of the video stream.
bool TWalk::IsVideoFrame(qint64 at) const
{
    const char *t = data.constData() + at;
    if (!IsDigit(t[0]) || !IsDigit(t[1]))
        return false;
    if (!((t[2] == 'd' && t[3] == 'b') || (t[2] == 'd' && t[3] == 'c')))
        return false;
    return (t[0] - '0') * 10 + (t[1] - '0') == videoStream;
}

bool TWalk::Walk(qint64 begin, qint64 end, const QByteArray &list, int depth)
{
    if (depth > 8)
        return Fail(QStringLiteral("Chunks nested too deeply"));
    qint64 pos = begin;
    while (end - pos >= 8) {
        const qint64 size = U32(data, pos + 4), body = pos + 8;
        if (size > end - body)
            return Fail(QStringLiteral("Chunk '%1' at %2 runs past the end of its list")
                            .arg(QString::fromLatin1(data.mid(pos, 4))).arg(pos));
        if (Tag(data, pos, "LIST")) {
            if (size < 4)
                return Fail(QStringLiteral("LIST chunk without a type at %1").arg(pos));
            const QByteArray type = data.mid(body, 4);
            if (type == "strl") {
                inVideoStrl = false;
                if (!Walk(body + 4, body + size, type, depth + 1))
                    return false;
                ++streams;
                inVideoStrl = false;
            } else if (type == "movi") {
                moviStart = body;
                if (!Walk(body + 4, body + size, type, depth + 1))
                    return false;
            } else if (type == "hdrl" || type == "rec ") {
                if (!Walk(body + 4, body + size, type, depth + 1))
                    return false;
            }
        } else if (list == "hdrl" && Tag(data, pos, "avih")) {
            if (size < 40)
                return Fail(QStringLiteral("Main header too short"));
            movie->MicroSecPerFrame = U32(data, body);
        } else if (list == "strl" && Tag(data, pos, "strh")) {
            if (size < 36)
                return Fail(QStringLiteral("Stream header too short"));
            if (videoStream < 0 && Tag(data, body, "vids")) {
                videoStream = streams;
                inVideoStrl = true;
                scale = U32(data, body + 20);
                rate = U32(data, body + 24);
            }
        } else if (list == "strl" && Tag(data, pos, "strf") && inVideoStrl && !haveFormat) {
            if (!ReadFormat(body, size))
                return false;
        } else if ((list == "movi" || list == "rec ") && IsVideoFrame(pos)) {
            if (moviFrames.size() >= kAviMaxFrames)
                return Fail(QStringLiteral("More than %1 frames").arg(kAviMaxFrames));
            moviFrames << data.mid(body, size);
        } else if (depth == 0 && Tag(data, pos, "idx1")) {
            idxStart = body;
            idxSize = size;
        }
        pos = body + size + (size & 1);
    }
    return true;
}

// The index lists the frames in play order. Its offsets count from the 'movi'
// list type in most files and from the file start in some; each entry must
// point at a chunk of its own id and size, or the index is ignored.
QList<QByteArray> TWalk::FramesFromIndex() const
{
    QList<QByteArray> frames;
    if (idxStart < 0 || moviStart < 0)
        return frames;
    for (qint64 e = idxStart; e + 16 <= idxStart + idxSize; e += 16) {
        if (!IsVideoFrame(e))
            continue;
        const qint64 off = U32(data, e + 8), size = U32(data, e + 12);
        bool found = false;
        for (qint64 base : {moviStart, qint64(0)}) {
            const qint64 at = base + off;
            if (at < 0 || at + 8 > data.size() || memcmp(data.constData() + at, data.constData() + e, 4) != 0)
                continue;
            if (U32(data, at + 4) != size || size > data.size() - at - 8)
                continue;
            frames << data.mid(at + 8, size);
            found = true;
            break;
        }
        if (!found || frames.size() > kAviMaxFrames)
            return {};
    }
    return frames;
}

} // namespace

bool ParseAvi(const QByteArray &data, TAviMovie *movie, QString *error)
{
    *movie = TAviMovie();
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        *movie = TAviMovie();
        return false;
    };
    if (data.size() < 12 || !Tag(data, 0, "RIFF") || !Tag(data, 8, "AVI "))
        return fail(QStringLiteral("Not an AVI file"));
    const qint64 riffSize = U32(data, 4);
    if (riffSize < 4 || riffSize > data.size() - 8)
        return fail(QStringLiteral("AVI file is truncated (%1 of %2 bytes)")
                        .arg(data.size()).arg(riffSize + 8));
    TWalk walk(data, movie);
    if (!walk.Walk(12, 8 + riffSize, QByteArray("AVI "), 0))
        return fail(walk.error);
    if (walk.videoStream < 0 || !walk.haveFormat)
        return fail(QStringLiteral("No video stream"));
    if (movie->MicroSecPerFrame == 0 && walk.rate > 0 && walk.scale > 0)
        movie->MicroSecPerFrame = quint32(std::min<quint64>(
            0xffffffffu, quint64(walk.scale) * 1000000u / walk.rate));
    QList<QByteArray> frames = walk.FramesFromIndex();
    movie->Frames = frames.isEmpty() ? walk.moviFrames : frames;
    if (movie->Frames.isEmpty())
        return fail(QStringLiteral("No video frames"));
    return true;
}

bool DecodeRle8(const QByteArray &data, QImage *frame, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (frame->format() != QImage::Format_Indexed8)
        return fail(QStringLiteral("RLE8 needs an 8-bit target"));
    const qint64 w = frame->width(), h = frame->height(), n = data.size();
    const uchar *s = reinterpret_cast<const uchar *>(data.constData());
    qint64 x = 0, y = 0;   // y counts rows from the bottom
    auto put = [&](uchar v) {
        if (x < w && y < h)
            frame->scanLine(int(h - 1 - y))[x] = v;
        ++x;
    };
    qint64 i = 0;
    while (n - i >= 2) {
        const uchar a = s[i], b = s[i + 1];
        i += 2;
        if (a > 0) {
            for (int k = 0; k < a && x <= w; ++k)
                put(b);
            continue;
        }
        switch (b) {
        case 0:   // end of line
            x = 0;
            y = std::min(y + 1, h);
            break;
        case 1:   // end of bitmap
            return true;
        case 2:   // delta: skip right and up, keeping the pixels under
            if (n - i < 2)
                return fail(QStringLiteral("RLE8 delta cut short"));
            x = std::min(x + s[i], w);
            y = std::min(y + s[i + 1], h);
            i += 2;
            break;
        default:  // absolute run of b literal bytes, padded to a word
            if (n - i < b)
                return fail(QStringLiteral("RLE8 literal run cut short"));
            for (int k = 0; k < b; ++k)
                put(s[i + k]);
            i += b + (b & 1);
            break;
        }
    }
    return fail(QStringLiteral("RLE8 data ends without end-of-bitmap"));
}

QImage DecodeAviFrame(const TAviMovie &m, int index, const QImage &previous, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return QImage();
    };
    if (index < 0 || index >= m.Frames.size())
        return fail(QStringLiteral("No frame %1").arg(index));
    if (m.Width <= 0 || m.Height <= 0 || m.Width > kAviMaxSide || m.Height > kAviMaxSide)
        return fail(QStringLiteral("Bad frame size"));
    const QByteArray &d = m.Frames[index];
    const QImage::Format fmt = m.BitCount == 8 ? QImage::Format_Indexed8 : QImage::Format_RGB32;
    const bool samePrev = !previous.isNull() && previous.size() == QSize(m.Width, m.Height)
                          && previous.format() == fmt;
    // An empty chunk repeats the previous picture.
    if (d.isEmpty()) {
        if (samePrev)
            return previous;
        return fail(QStringLiteral("Frame %1 is empty").arg(index));
    }
    QImage img;
    if (m.Compression == kBiRle8) {
        if (m.BitCount != 8)
            return fail(QStringLiteral("RLE8 frames must be 8-bit"));
        if (samePrev) {
            img = previous.copy();
        } else {
            img = QImage(m.Width, m.Height, QImage::Format_Indexed8);
            img.fill(0);
        }
        img.setColorTable(m.Palette);
        QString why;
        if (!DecodeRle8(d, &img, &why))
            return fail(QStringLiteral("Frame %1: %2").arg(index).arg(why));
        return img;
    }
    const qint64 rowBytes = m.BitCount == 8 ? m.Width : qint64(m.Width) * 3;
    const qint64 stride = (rowBytes + 3) & ~qint64(3);
    if (d.size() < stride * m.Height)
        return fail(QStringLiteral("Frame %1 holds %2 bytes, needs %3")
                        .arg(index).arg(d.size()).arg(stride * m.Height));
    img = QImage(m.Width, m.Height, fmt);
    if (img.isNull())
        return fail(QStringLiteral("Not enough memory"));
    if (fmt == QImage::Format_Indexed8)
        img.setColorTable(m.Palette);
    const uchar *src = reinterpret_cast<const uchar *>(d.constData());
    for (int r = 0; r < m.Height; ++r) {
        const uchar *row = src + stride * r;
        const int y = m.TopDown ? r : m.Height - 1 - r;
        if (fmt == QImage::Format_Indexed8) {
            memcpy(img.scanLine(y), row, size_t(m.Width));
        } else {
            QRgb *out = reinterpret_cast<QRgb *>(img.scanLine(y));
            for (int x = 0; x < m.Width; ++x)
                out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
        }
    }
    return img;
}

bool LoadAvi(const QString &path, TAviMovie *movie, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *movie = TAviMovie();
        if (error)
            *error = f.errorString();
        return false;
    }
    if (f.size() > 64 * 1024 * 1024) {
        *movie = TAviMovie();
        if (error)
            *error = QStringLiteral("AVI file too large");
        return false;
    }
    return ParseAvi(f.readAll(), movie, error);
}

} // namespace desktop
