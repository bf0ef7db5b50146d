// JPEG decoding: the shipped pictures, colour and grayscale streams encoded
// here with libjpeg, and damaged or hostile streams that must fail cleanly.
#include "desktop/jpeg.h"

#include <QFile>
#include <QRandomGenerator>
#include <cstdio>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include "testpaths.h"

namespace {

QByteArray Encode(const QImage &src, bool gray, int quality = 95)
{
    const QImage img = src.convertToFormat(gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    jpeg_compress_struct c{};
    jpeg_error_mgr e{};
    c.err = jpeg_std_error(&e);
    jpeg_create_compress(&c);
    unsigned char *buf = nullptr;
    unsigned long len = 0;
    jpeg_mem_dest(&c, &buf, &len);
    c.image_width = img.width();
    c.image_height = img.height();
    c.input_components = gray ? 1 : 3;
    c.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, quality, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uchar *>(img.constScanLine(c.next_scanline));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    QByteArray out(reinterpret_cast<const char *>(buf), qsizetype(len));
    free(buf);
    return out;
}

// Four flat quadrants: red, green, blue, white.
QImage Quadrants()
{
    QImage img(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            img.setPixel(x, y, y < 24 ? (x < 32 ? qRgb(220, 20, 20) : qRgb(20, 200, 30))
                                      : (x < 32 ? qRgb(20, 30, 210) : qRgb(250, 250, 250)));
    return img;
}

void ExpectNear(QRgb got, QRgb want, int tol, const char *where)
{
    EXPECT_NEAR(qRed(got), qRed(want), tol) << where;
    EXPECT_NEAR(qGreen(got), qGreen(want), tol) << where;
    EXPECT_NEAR(qBlue(got), qBlue(want), tol) << where;
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QString kPictures = QStringLiteral(IDLIX_SOURCE_DIR "/res/pictures/");

} // namespace

TEST(Jpeg, ShippedPicturesDecodeAtTheirLayoutSizes)
{
    const struct { const char *name; int w, h; } rows[] = {
        {"background.jpg", 449, 252}, {"backdrop.jpg", 329, 203}, {"about.jpg", 320, 200}};
    for (const auto &r : rows) {
        QString err;
        const QImage img = desktop::DecodeJpeg(ReadFile(kPictures + r.name), &err);
        ASSERT_FALSE(img.isNull()) << r.name << ": " << err.toStdString();
        EXPECT_EQ(img.size(), QSize(r.w, r.h)) << r.name;
        EXPECT_EQ(img.format(), QImage::Format_RGB32) << r.name;
    }
}

TEST(Jpeg, BackgroundHasItsBlackWellAndTealDial)
{
    const QImage bg = desktop::LoadJpeg(kPictures + "background.jpg");
    ASSERT_FALSE(bg.isNull());
    // Inside the content well the narrow panels cover: black.
    const QRgb well = bg.pixel(200, 110);
    EXPECT_LT(qRed(well) + qGreen(well) + qBlue(well), 30);
    // Centre of the dial under the graphs: dark glass tinted teal (blue-green over red).
    const QRgb dial = bg.pixel(374, 74);
    EXPECT_GT(qGreen(dial), qRed(dial) + 5);
    EXPECT_GT(qBlue(dial), qRed(dial) + 5);
    EXPECT_LT(qGreen(dial), 90);
    // The switch plate on the left is mid-grey metal, neither black nor white.
    const QRgb plate = bg.pixel(60, 110);
    EXPECT_GT(qGray(plate), 30);
    EXPECT_LT(qGray(plate), 110);
}

TEST(Jpeg, ColourAndGrayscaleStreamsKeepTheirPixels)
{
    const QImage src = Quadrants();
    const QImage rgb = desktop::DecodeJpeg(Encode(src, false));
    ASSERT_FALSE(rgb.isNull());
    EXPECT_EQ(rgb.format(), QImage::Format_RGB32);
    EXPECT_EQ(rgb.size(), src.size());
    ExpectNear(rgb.pixel(10, 10), qRgb(220, 20, 20), 12, "red quadrant");
    ExpectNear(rgb.pixel(50, 10), qRgb(20, 200, 30), 12, "green quadrant");
    ExpectNear(rgb.pixel(10, 40), qRgb(20, 30, 210), 12, "blue quadrant");
    ExpectNear(rgb.pixel(50, 40), qRgb(250, 250, 250), 12, "white quadrant");

    const QImage gray = desktop::DecodeJpeg(Encode(src, true));
    ASSERT_FALSE(gray.isNull());
    EXPECT_EQ(gray.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(gray.size(), src.size());
    EXPECT_NEAR(qGray(gray.pixel(10, 40)), qGray(qRgb(20, 30, 210)), 10);
    EXPECT_NEAR(qGray(gray.pixel(50, 40)), 250, 10);
}

TEST(Jpeg, DamagedStreamsGiveNullAndAReason)
{
    const QByteArray good = Encode(Quadrants(), false);
    QByteArray garbage(400, 'x');
    QByteArray noMarker = good;
    noMarker[0] = 0;                       // no start-of-image marker
    QByteArray badScan = good;
    // Overwrite the entropy-coded data with a marker that may not appear there.
    for (int i = good.size() / 2; i < good.size() / 2 + 64; ++i)
        badScan[i] = char(0xff);
    const struct { const char *what; QByteArray data; } rows[] = {
        {"empty", QByteArray()},
        {"garbage", garbage},
        {"no SOI", noMarker},
        {"header only", good.left(150)},
        {"cut in half", good.left(good.size() / 2)},
        {"cut before EOI", good.left(good.size() - 40)},
        {"marker run in scan", badScan},
    };
    for (const auto &r : rows) {
        QString err;
        const QImage img = desktop::DecodeJpeg(r.data, &err);
        EXPECT_TRUE(img.isNull()) << r.what;
        EXPECT_FALSE(err.isEmpty()) << r.what;
    }
    EXPECT_TRUE(desktop::LoadJpeg(QStringLiteral("/nonexistent/picture.jpg")).isNull());
}

TEST(Jpeg, AbsurdDimensionsAreRefusedBeforeAllocation)
{
    QByteArray data = Encode(Quadrants(), false);
    const int sof = data.indexOf(QByteArray("\xff\xc0", 2));
    ASSERT_GT(sof, 0);
    // SOF0: marker, length(2), precision(1), height(2), width(2).
    for (const auto &[h, w] : {std::pair{60000, 60000}, std::pair{20000, 10}, std::pair{10, 0}}) {
        QByteArray d = data;
        d[sof + 5] = char(h >> 8); d[sof + 6] = char(h & 0xff);
        d[sof + 7] = char(w >> 8); d[sof + 8] = char(w & 0xff);
        QString err;
        EXPECT_TRUE(desktop::DecodeJpeg(d, &err).isNull()) << h << "x" << w;
        EXPECT_FALSE(err.isEmpty()) << h << "x" << w;
    }
}

TEST(Jpeg, RandomDamageNeverCrashes)
{
    const QByteArray good = Encode(Quadrants(), false, 80);
    QRandomGenerator rng(20261208);
    int decoded = 0, refused = 0;
    for (int i = 0; i < 1500; ++i) {
        QByteArray d = good;
        const int flips = 1 + int(rng.bounded(6));
        for (int k = 0; k < flips; ++k)
            d[int(rng.bounded(d.size()))] = char(rng.bounded(256));
        if (rng.bounded(4) == 0)
            d.truncate(int(rng.bounded(d.size())));
        QString err;
        const QImage img = desktop::DecodeJpeg(d, &err);
        if (img.isNull()) {
            ++refused;
            EXPECT_FALSE(err.isEmpty());
        } else {
            ++decoded;
            EXPECT_LE(img.width(), desktop::kJpegMaxSide);
        }
    }
    // Both outcomes occur, so the run really reaches the decoder's inner parts.
    EXPECT_GT(decoded, 0);
    EXPECT_GT(refused, 0);
}
