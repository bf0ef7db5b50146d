#include "writers.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <cstdio>
#include <jpeglib.h>

bool WriteJpeg(const QImage &src, const QString &path, int quality, QString *error)
{
    const QImage img = src.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);   // the generator may simply exit on a libjpeg error
    jpeg_create_compress(&cinfo);
    unsigned char *buf = nullptr;
    unsigned long len = 0;
    jpeg_mem_dest(&cinfo, &buf, &len);
    cinfo.image_width = img.width();
    cinfo.image_height = img.height();
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.optimize_coding = TRUE;
    // Full-resolution chroma: the pictures have thin coloured hairlines.
    for (int c = 0; c < 3; ++c)
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uchar *>(img.constScanLine(cinfo.next_scanline));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QFile f(path);
    bool ok = f.open(QIODevice::WriteOnly | QIODevice::Truncate)
              && f.write(reinterpret_cast<const char *>(buf), qint64(len)) == qint64(len);
    free(buf);
    if (!ok && error)
        *error = "cannot write " + path;
    return ok;
}

namespace {

// Popularity palette over 5-bit-per-channel buckets: the frames are a few
// smooth ramps of teal, steel and black, which 256 bucket averages cover well.
QList<QRgb> BuildPalette(const QList<QImage> &frames)
{
    struct Acc { qint64 n = 0, r = 0, g = 0, b = 0; int key = 0; };
    QHash<int, Acc> buckets;
    for (const QImage &f : frames)
        for (int y = 0; y < f.height(); ++y)
            for (int x = 0; x < f.width(); ++x) {
                const QRgb p = f.pixel(x, y);
                const int key = (qRed(p) >> 3) << 10 | (qGreen(p) >> 3) << 5 | (qBlue(p) >> 3);
                Acc &a = buckets[key];
                a.key = key;
                ++a.n; a.r += qRed(p); a.g += qGreen(p); a.b += qBlue(p);
            }
    QList<Acc> all = buckets.values();
    // Ties broken by colour so that reruns give the same file.
    std::sort(all.begin(), all.end(), [](const Acc &a, const Acc &b) {
        return a.n != b.n ? a.n > b.n : a.key < b.key;
    });
    QList<QRgb> pal;
    for (const Acc &a : all) {
        if (pal.size() == 256)
            break;
        pal << qRgb(int(a.r / a.n), int(a.g / a.n), int(a.b / a.n));
    }
    while (pal.size() < 256)
        pal << qRgb(0, 0, 0);
    return pal;
}

int Nearest(const QList<QRgb> &pal, QRgb p)
{
    int best = 0;
    long bestD = -1;
    for (int i = 0; i < pal.size(); ++i) {
        const long dr = qRed(p) - qRed(pal[i]), dg = qGreen(p) - qGreen(pal[i]),
                   db = qBlue(p) - qBlue(pal[i]);
        const long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (bestD < 0 || d < bestD) { bestD = d; best = i; }
    }
    return best;
}

void Put16(QByteArray &b, quint16 v) { b.append(char(v & 0xff)); b.append(char(v >> 8)); }
void Put32(QByteArray &b, quint32 v) { Put16(b, quint16(v)); Put16(b, quint16(v >> 16)); }
void PutTag(QByteArray &b, const char *t) { b.append(t, 4); }

QByteArray Chunk(const char *tag, const QByteArray &body)
{
    QByteArray c;
    PutTag(c, tag);
    Put32(c, quint32(body.size()));
    c += body;
    if (body.size() & 1)
        c.append('\0');
    return c;
}

QByteArray List(const char *type, const QByteArray &body)
{
    QByteArray b;
    PutTag(b, type);
    return Chunk("LIST", b + body);
}

} // namespace

QByteArray EncodeRle8(const QImage &img)
{
    QByteArray out;
    const int w = img.width();
    for (int y = img.height() - 1; y >= 0; --y) {
        const uchar *row = img.constScanLine(y);
        int i = 0;
        while (i < w) {
            int run = 1;
            while (i + run < w && run < 255 && row[i + run] == row[i])
                ++run;
            if (run >= 3) {
                out.append(char(run)); out.append(char(row[i]));
                i += run;
                continue;
            }
            // Gather literals up to the next run of three or more.
            int n = 0;
            while (i + n < w && n < 254) {
                if (i + n + 2 < w && row[i + n] == row[i + n + 1] && row[i + n] == row[i + n + 2])
                    break;
                ++n;
            }
            if (n >= 3) {
                out.append('\0'); out.append(char(n));
                out.append(reinterpret_cast<const char *>(row + i), n);
                if (n & 1)
                    out.append('\0');   // absolute runs end on a word boundary
                i += n;
            } else {
                for (int k = 0; k < n; ++k) { out.append('\1'); out.append(char(row[i + k])); }
                i += n;
            }
        }
        out.append('\0');
        out.append(y == 0 ? '\1' : '\0');
    }
    return out;
}

bool WriteRle8Avi(const QList<QImage> &frames, int fps, const QString &path, QString *error)
{
    if (frames.isEmpty()) { if (error) *error = "no frames"; return false; }
    const int w = frames[0].width(), h = frames[0].height();
    const QList<QRgb> pal = BuildPalette(frames);
    QHash<QRgb, int> lookup;
    QList<QByteArray> encoded;
    quint32 maxSize = 0;
    for (const QImage &f : frames) {
        QImage idx(w, h, QImage::Format_Indexed8);
        idx.setColorTable(pal);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const QRgb p = f.pixel(x, y) | 0xff000000u;
                auto it = lookup.find(p);
                if (it == lookup.end())
                    it = lookup.insert(p, Nearest(pal, p));
                idx.scanLine(y)[x] = uchar(*it);
            }
        encoded << EncodeRle8(idx);
        maxSize = std::max<quint32>(maxSize, quint32(encoded.last().size()));
    }

    QByteArray avih;
    Put32(avih, 1000000u / fps);          // microseconds per frame
    Put32(avih, maxSize * fps);           // max bytes per second
    Put32(avih, 0);                       // padding granularity
    Put32(avih, 0x10);                    // AVIF_HASINDEX
    Put32(avih, quint32(frames.size()));
    Put32(avih, 0);                       // initial frames
    Put32(avih, 1);                       // streams
    Put32(avih, maxSize);
    Put32(avih, quint32(w));
    Put32(avih, quint32(h));
    for (int i = 0; i < 4; ++i) Put32(avih, 0);

    QByteArray strh;
    PutTag(strh, "vids");
    PutTag(strh, "mrle");
    Put32(strh, 0);                       // flags
    Put16(strh, 0); Put16(strh, 0);       // priority, language
    Put32(strh, 0);                       // initial frames
    Put32(strh, 1);                       // scale
    Put32(strh, quint32(fps));            // rate: fps = rate / scale
    Put32(strh, 0);                       // start
    Put32(strh, quint32(frames.size()));  // length
    Put32(strh, maxSize);
    Put32(strh, 0xffffffffu);             // quality: default
    Put32(strh, 0);                       // sample size: varies
    Put16(strh, 0); Put16(strh, 0); Put16(strh, quint16(w)); Put16(strh, quint16(h));

    QByteArray strf;
    Put32(strf, 40);
    Put32(strf, quint32(w));
    Put32(strf, quint32(h));              // positive: rows bottom-up
    Put16(strf, 1);
    Put16(strf, 8);
    Put32(strf, 1);                       // BI_RLE8
    Put32(strf, quint32(((w + 3) & ~3) * h));
    Put32(strf, 2835); Put32(strf, 2835);
    Put32(strf, 256); Put32(strf, 0);
    for (QRgb c : pal) {
        strf.append(char(qBlue(c))); strf.append(char(qGreen(c)));
        strf.append(char(qRed(c))); strf.append('\0');
    }

    const QByteArray hdrl = List("hdrl", Chunk("avih", avih)
                                 + List("strl", Chunk("strh", strh) + Chunk("strf", strf)));
    QByteArray movi, idx1;
    for (const QByteArray &e : encoded) {
        // idx1 offsets count from the "movi" list type.
        const quint32 off = quint32(4 + movi.size());
        movi += Chunk("00dc", e);
        PutTag(idx1, "00dc");
        Put32(idx1, 0x10);                // AVIIF_KEYFRAME
        Put32(idx1, off);
        Put32(idx1, quint32(e.size()));
    }
    QByteArray body;
    PutTag(body, "AVI ");
    body += hdrl + List("movi", movi) + Chunk("idx1", idx1);
    const QByteArray file = Chunk("RIFF", body);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(file) != file.size()) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}
