// The pictures for windows drawn larger than 100 %: every picture (and the
// logo clip) drawn anew at twice the size rather than blown up. What the
// size setting does to the real window: app/test_windowsize.
#include "desktop/avimovie.h"
#include "desktop/pictures.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cmath>
#include "testpaths.h"

namespace {

// The pictures the program is built with, from its resource list.
QStringList PictureNames()
{
    QFile qrc(IDLIX_SOURCE_DIR "/res/resources.qrc");
    if (!qrc.open(QIODevice::ReadOnly))
        return {};
    QStringList names;
    const auto files = QRegularExpression("<file>pictures/([^<@]+)</file>").globalMatch(qrc.readAll());
    for (auto it = files; it.hasNext();)
        names << it.next().captured(1);
    return names;
}

// Mean difference per channel of two images of one size, 0..255.
double Difference(const QImage &a, const QImage &b)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const QRgb *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const QRgb *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            sum += std::abs(qRed(p[col]) - qRed(q[col])) + std::abs(qGreen(p[col]) - qGreen(q[col]))
                   + std::abs(qBlue(p[col]) - qBlue(q[col])) + std::abs(qAlpha(p[col]) - qAlpha(q[col]));
    }
    return sum / (4.0 * x.width() * x.height());
}

// Each 2 x 2 block of pixels averaged into one.
QImage Halved(const QImage &image)
{
    const QImage x = image.convertToFormat(QImage::Format_ARGB32);
    QImage out(x.width() / 2, x.height() / 2, QImage::Format_ARGB32);
    for (int row = 0; row < out.height(); ++row) {
        for (int col = 0; col < out.width(); ++col) {
            int sum[4] = {};
            for (int d = 0; d < 4; ++d) {
                const QRgb p = x.pixel(2 * col + d % 2, 2 * row + d / 2);
                sum[0] += qRed(p), sum[1] += qGreen(p), sum[2] += qBlue(p), sum[3] += qAlpha(p);
            }
            out.setPixel(col, row, qRgba(sum[0] / 4, sum[1] / 4, sum[2] / 4, sum[3] / 4));
        }
    }
    return out;
}

} // namespace

TEST(Pictures, EachIsDrawnAnewAtTwiceTheSize)
{
    const QStringList names = PictureNames();
    ASSERT_GE(names.size(), 16);
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const QPixmap one = desktop::Picture(name, 1);
        ASSERT_FALSE(one.isNull());
        EXPECT_EQ(one.devicePixelRatio(), 1);
        for (const qreal ratio : {2.0, 1.5}) {
            SCOPED_TRACE(ratio);
            const QPixmap big = desktop::Picture(name, ratio);
            ASSERT_FALSE(big.isNull());
            EXPECT_EQ(big.devicePixelRatio(), ratio);
            EXPECT_EQ(big.size(), QSize(std::lround(one.width() * ratio), std::lround(one.height() * ratio)));
            // In the window it takes the room of the small one.
            EXPECT_EQ(big.deviceIndependentSize().toSize(), one.size());
        }
        // The same picture: taken back to the small size (each 2 x 2 pixels
        // averaged), it is the small one.
        const QImage twice = desktop::Picture(name, 2).toImage();
        EXPECT_LT(Difference(Halved(twice), one.toImage()), 10.0);
        // Drawn anew, not the small one enlarged: neither its pixels doubled
        // nor smoothed over.
        for (const auto mode : {Qt::FastTransformation, Qt::SmoothTransformation}) {
            const QImage enlarged = one.toImage().scaled(twice.size(), Qt::IgnoreAspectRatio, mode);
            EXPECT_GT(Difference(twice, enlarged), 0.5) << "enlarged " << int(mode);
        }
    }
    EXPECT_TRUE(desktop::Picture("no-such-picture.png", 2).isNull());
}

TEST(Pictures, TheLogoClipComesAtTwiceTheSize)
{
    desktop::TAviMovie one, two;
    ASSERT_TRUE(desktop::LoadAvi(IDLIX_SOURCE_DIR "/res/data/bvspin.avi", &one));
    ASSERT_TRUE(desktop::LoadAvi(IDLIX_SOURCE_DIR "/res/data/bvspin@2x.avi", &two));
    EXPECT_EQ(two.Width, 2 * one.Width);
    EXPECT_EQ(two.Height, 2 * one.Height);
    EXPECT_EQ(two.Frames.size(), one.Frames.size());
    EXPECT_EQ(two.FrameIntervalMs(), one.FrameIntervalMs());
    QImage a, b;
    for (int i = 0; i < one.Frames.size(); ++i) {
        a = desktop::DecodeAviFrame(one, i, a);
        b = desktop::DecodeAviFrame(two, i, b);
        ASSERT_FALSE(a.isNull());
        ASSERT_FALSE(b.isNull());
    }
    // The last frame: the same globe at the same turn.
    EXPECT_LT(Difference(b, a.scaled(b.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)), 14.0);
}

TEST(Pictures, PngPicturesReadByTheirNameAreThoseTheFileHolds)
{
    // Read as the format their name says, without probing: the same pixels,
    // transparency and size as a reader that probes the contents gets, at
    // both sizes.
    const QStringList names = PictureNames();
    ASSERT_FALSE(names.isEmpty());
    int pngs = 0;
    for (const QString &name : names) {
        if (!name.endsWith(QLatin1String(".png")))
            continue;
        ++pngs;
        for (const qreal ratio : {1.0, 2.0}) {
            SCOPED_TRACE(name.toStdString() + " at " + std::to_string(ratio));
            const QString file = ratio == 1 ? name : QString(name).replace(".png", "@2x.png");
            const QImage probed(QStringLiteral(":/pictures/") + file);
            ASSERT_FALSE(probed.isNull());
            const QImage read = desktop::Picture(name, ratio).toImage();
            ASSERT_EQ(read.size(), probed.size());
            EXPECT_EQ(read.hasAlphaChannel(), probed.hasAlphaChannel());
            EXPECT_EQ(Difference(read, probed), 0.0);
        }
    }
    EXPECT_GT(pngs, 10);
}
