#include "desktop/jpeg.h"

#include <QFile>
#include <csetjmp>
#include <cstring>
#include <cstdio>
#include <jpeglib.h>

namespace desktop {
namespace {

// libjpeg reports fatal errors through error_exit, which must not return;
// the default one calls exit(). Ours jumps back into DecodeJpeg instead.
struct TJpegError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char text[JMSG_LENGTH_MAX];
};

void OnJpegError(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<TJpegError *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->text);
    std::longjmp(err->jump, 1);
}

// A corrupt-data warning (level -1) means libjpeg is papering over damage,
// for example padding a truncated file with grey: treat it as a failure.
void OnJpegMessage(j_common_ptr cinfo, int level)
{
    if (level < 0)
        OnJpegError(cinfo);
}

// The decode proper. Only trivially destructible locals live across the
// setjmp; the picture and the row buffer belong to the caller, so a longjmp
// out of libjpeg leaves no C++ object half-built or undestroyed.
bool DecodeInto(const QByteArray &data, QImage *img, QByteArray *rowBuf, QString *error)
{
    jpeg_decompress_struct cinfo;
    TJpegError jerr;
    cinfo.err = jpeg_std_error(&jerr.pub);
    jerr.pub.error_exit = OnJpegError;
    jerr.pub.emit_message = OnJpegMessage;
    jerr.text[0] = 0;
    if (setjmp(jerr.jump)) {
        jpeg_destroy_decompress(&cinfo);
        if (error)
            *error = QString::fromLocal8Bit(jerr.text);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char *>(data.constData()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);

    const qint64 w = cinfo.image_width, h = cinfo.image_height;
    if (w <= 0 || h <= 0 || w > kJpegMaxSide || h > kJpegMaxSide || w * h > kJpegMaxPixels) {
        jpeg_destroy_decompress(&cinfo);
        if (error)
            *error = QStringLiteral("JPEG dimensions %1 x %2 are out of range").arg(w).arg(h);
        return false;
    }
    const bool gray = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = gray ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
#ifdef JCS_EXTENSIONS
    // libjpeg-turbo writes colour rows in Format_RGB32's own byte order (its
    // pad byte 0xff), straight into the picture: no pass over every pixel.
    if (!gray && !cmyk)
        cinfo.out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    const bool direct = !cmyk;
#else
    const bool direct = gray;
#endif
    jpeg_start_decompress(&cinfo);

    *img = QImage(int(w), int(h), gray ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    if (img->isNull()) {
        jpeg_destroy_decompress(&cinfo);
        if (error)
            *error = QStringLiteral("Not enough memory for a %1 x %2 picture").arg(w).arg(h);
        return false;
    }
    if (!direct)
        rowBuf->resize(qsizetype(w) * cinfo.output_components);
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = int(cinfo.output_scanline);
        JSAMPROW row = direct ? reinterpret_cast<JSAMPROW>(img->scanLine(y))
                              : reinterpret_cast<JSAMPROW>(rowBuf->data());
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1)
            break;
        if (direct)
            continue;
        QRgb *out = reinterpret_cast<QRgb *>(img->scanLine(y));
        const uchar *in = row;
        for (qint64 x = 0; x < w; ++x) {
            if (cmyk) {
                // Adobe writes CMYK JPEGs inverted: 255 means no ink.
                const int k = in[3];
                out[x] = qRgb(in[0] * k / 255, in[1] * k / 255, in[2] * k / 255);
                in += 4;
            } else {
                out[x] = qRgb(in[0], in[1], in[2]);
                in += 3;
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray &data, QString *error)
{
    if (data.isEmpty()) {
        if (error)
            *error = QStringLiteral("Empty JPEG data");
        return QImage();
    }
    QImage img;
    QByteArray rowBuf;
    if (!DecodeInto(data, &img, &rowBuf, error))
        return QImage();
    return img;
}

QImage LoadJpeg(const QString &path)
{
    QFile f(path);
    // Pictures are small; refuse to slurp something absurd by mistake.
    if (!f.open(QIODevice::ReadOnly) || f.size() > 64 * 1024 * 1024)
        return QImage();
    return DecodeJpeg(f.readAll());
}

} // namespace desktop
