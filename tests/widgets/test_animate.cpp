// TAnimate playing the shipped logo clip, and the compiled-in pictures.
#include "widgets/animate.h"
#include "desktop/pictures.h"
#include "desktop/avimovie.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <gtest/gtest.h>
#include "testpaths.h"

using namespace std::chrono_literals;

namespace {

const QString kClip = QStringLiteral(IDLIX_SOURCE_DIR "/res/data/bvspin.avi");

// What the widget shows, rendered over a solid red parent.
QImage Rendered(TAnimate &anim)
{
    QImage img(anim.size(), QImage::Format_RGB32);
    img.fill(Qt::red);
    QPainter p(&img);
    anim.render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
    return img;
}

} // namespace

TEST(Animate, PlaysAtTheClipRateAndHaltsAfterTheStopFrame)
{
    TAnimate anim;
    anim.resize(85, 75);
    anim.SetFileName(kClip);
    ASSERT_GE(anim.FrameCount(), 42);
    EXPECT_EQ(anim.CurrentFrame(), 0);   // opening shows the first frame
    EXPECT_FALSE(anim.Active());
    int stops = 0;
    anim.OnStop = [&] { ++stops; };
    anim.SetStopFrame(41);
    QElapsedTimer clock;
    clock.start();
    anim.Play();
    EXPECT_TRUE(anim.Active());
    ASSERT_TRUE(testutil::waitFor([&] { return !anim.Active(); }, 10s));
    // 41 frame steps at the clip's 15 frames a second take well over two seconds.
    desktop::TAviMovie movie;
    ASSERT_TRUE(desktop::LoadAvi(kClip, &movie));
    EXPECT_GE(clock.elapsed(), 41 * movie.FrameIntervalMs() * 8 / 10);
    EXPECT_EQ(anim.CurrentFrame(), 41);
    EXPECT_EQ(stops, 1);
    testutil::pump(300ms);
    EXPECT_EQ(anim.CurrentFrame(), 41);

    // The picture on screen is frame 41 decoded in sequence.
    QImage prev;
    for (int i = 0; i <= 41; ++i)
        prev = desktop::DecodeAviFrame(movie, i, prev);
    const QImage want = prev.convertToFormat(QImage::Format_RGB32);
    const QImage shown = Rendered(anim);
    EXPECT_EQ(shown.pixel(42, 37), want.pixel(42, 37));
    EXPECT_EQ(shown.pixel(5, 70), want.pixel(5, 70));
    EXPECT_EQ(shown, want);
}

TEST(Animate, WithoutStopFrameItLoopsAndStopHaltsIt)
{
    TAnimate anim;
    anim.resize(85, 75);
    anim.SetFileName(kClip);
    anim.Play();
    const int last = anim.FrameCount() - 1;
    bool sawLast = false;
    ASSERT_TRUE(testutil::waitFor([&] {
        sawLast = sawLast || anim.CurrentFrame() == last;
        return sawLast && anim.CurrentFrame() < 5;
    }, 10s));
    EXPECT_TRUE(anim.Active());
    anim.Stop();
    const int at = anim.CurrentFrame();
    testutil::pump(300ms);
    EXPECT_FALSE(anim.Active());
    EXPECT_EQ(anim.CurrentFrame(), at);
    // Playing again starts over from the first frame.
    anim.Play();
    EXPECT_EQ(anim.CurrentFrame(), 0);
}

TEST(Animate, MissingOrDamagedClipShowsNothing)
{
    testutil::ScratchDir dir;
    QFile src(kClip);
    ASSERT_TRUE(src.open(QIODevice::ReadOnly));
    const QByteArray clip = src.readAll();
    QFile cut(dir.file("cut.avi"));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(clip.left(clip.size() / 2));
    cut.close();
    QByteArray bad = clip;
    // Fill the first frame with endless runs and no end-of-bitmap: the header
    // parses, the frame does not decode.
    const int first = bad.indexOf("00dc");
    ASSERT_GT(first, 0);
    const int size = int(uchar(bad[first + 4]) | uchar(bad[first + 5]) << 8);
    bad.replace(first + 8, size, QByteArray(size, '\xff'));
    QFile broken(dir.file("broken.avi"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write(bad);
    broken.close();

    for (const QString &path : {dir.file("none.avi"), dir.file("cut.avi"), dir.file("broken.avi")}) {
        TAnimate anim;
        anim.resize(85, 75);
        anim.SetFileName(path);
        anim.SetStopFrame(41);
        anim.Play();
        EXPECT_FALSE(anim.Active()) << path.toStdString();
        EXPECT_TRUE(anim.CurrentImage().isNull()) << path.toStdString();
        const QImage shown = Rendered(anim);
        EXPECT_EQ(shown.pixel(42, 37), qRgb(255, 0, 0)) << path.toStdString();
    }
    // A good clip after a bad one plays.
    TAnimate anim;
    anim.SetFileName(dir.file("none.avi"));
    anim.SetFileName(kClip);
    anim.Play();
    EXPECT_TRUE(anim.Active());
}

TEST(Pictures, EveryPictureLoadsAtItsLayoutSize)
{
    const struct { const char *name; int w, h; } rows[] = {
        {"background.jpg", 449, 252}, {"backdrop.jpg", 329, 203}, {"about.jpg", 320, 200},
        {"switch_off.png", 52, 23}, {"switch_on.png", 52, 23},
        {"arrow_closed.png", 15, 17}, {"arrow_open.png", 15, 17},
        {"lamp_red.png", 9, 9}, {"lamp_green.png", 9, 9},
        {"btn_yes.png", 21, 17}, {"btn_no.png", 21, 17},
        {"button.png", 60, 19}, {"button_small.png", 40, 19},
        {"idlix.png", 32, 32}, {"idlix16.png", 16, 16}, {"isp_images.png", 38, 17},
    };
    for (const auto &r : rows) {
        const QPixmap pix = desktop::Picture(r.name);
        ASSERT_FALSE(pix.isNull()) << r.name;
        EXPECT_EQ(pix.size(), QSize(r.w, r.h)) << r.name;
    }
    // Lamps are what their names say: the red one red, the green one green.
    const QImage red = desktop::Picture("lamp_red.png").toImage(), green = desktop::Picture("lamp_green.png").toImage();
    EXPECT_GT(qRed(red.pixel(4, 5)), 2 * qGreen(red.pixel(4, 5)));
    EXPECT_GT(qGreen(green.pixel(4, 5)), 2 * qRed(green.pixel(4, 5)));
    // Lamps are round: their corners are transparent.
    EXPECT_EQ(qAlpha(red.pixel(0, 0)), 0);
    EXPECT_TRUE(desktop::Picture("no_such_picture.png").isNull());
    EXPECT_TRUE(desktop::Picture("no_such_picture.jpg").isNull());
}
