// Repaints asked for at once, at most once a frame: the first of a burst is
// painted at once, the rest once at the end of the frame, showing the text
// the widget holds then; a request a frame after the last paint is painted
// at once again.
#include "widgets/framepaint.h"
#include "../support/testutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QStringList>
#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;

namespace {

// A label that notes the text it showed at each paint.
class PaintedLabel : public QLabel {
public:
    QStringList painted;
protected:
    void paintEvent(QPaintEvent *e) override
    {
        painted << text();
        QLabel::paintEvent(e);
    }
};

struct Shown {
    Shown()
    {
        label->resize(200, 20);
        label->show();
        testutil::waitFor([this] { return label->isVisible(); }, 2000ms);
        testutil::pump(50ms);
        label->painted.clear();
    }
    std::unique_ptr<PaintedLabel> label = std::make_unique<PaintedLabel>();
    TFramePaint *paint = new TFramePaint(label.get());
};

} // namespace

TEST(FramePaint, ABurstIsPaintedAtOnceThenOnceAtTheEndOfTheFrame)
{
    Shown s;
    s.label->setText("one");
    s.paint->Request();
    EXPECT_EQ(s.label->painted, QStringList{"one"});   // at once, before returning
    EXPECT_FALSE(s.paint->Pending());
    for (const char *text : {"two", "three", "four"}) {
        s.label->setText(text);
        s.paint->Request();
    }
    // Within the frame: nothing painted yet, one repaint waiting, due by the
    // end of the frame.
    EXPECT_EQ(s.label->painted, QStringList{"one"});
    ASSERT_TRUE(s.paint->Pending());
    EXPECT_GE(s.paint->PendingMs(), 0);
    EXPECT_LE(s.paint->PendingMs(), TFramePaint::kFrameMs);
    ASSERT_TRUE(testutil::waitFor([&] { return !s.paint->Pending(); }, 1000ms));
    // The newest text, once: a frame's worth of requests costs one picture.
    // (Setting the text schedules ordinary updates too; they show the same.)
    ASSERT_GE(s.label->painted.size(), 2);
    EXPECT_EQ(s.label->painted.last(), "four");
    EXPECT_EQ(s.paint->Paints(), 2);
}

TEST(FramePaint, ARequestAFrameAfterTheLastPaintIsPaintedAtOnce)
{
    Shown s;
    s.paint->Request();
    testutil::pump(std::chrono::milliseconds(TFramePaint::kFrameMs + 5));
    s.label->painted.clear();
    s.label->setText("later");
    s.paint->Request();
    EXPECT_EQ(s.label->painted, QStringList{"later"});
    EXPECT_FALSE(s.paint->Pending());
}

TEST(FramePaint, ATransferLongBurstPaintsAboutOnceAFrame)
{
    // 2000 pieces as fast as the loop turns, as a transfer's handlers ask.
    Shown s;
    QElapsedTimer took;
    took.start();
    for (int i = 1; i <= 2000; ++i) {
        s.label->setText(QString::number(i));
        s.paint->Request();
        if (i % 10 == 0)
            QCoreApplication::processEvents();
    }
    const qint64 ms = took.elapsed();
    ASSERT_TRUE(testutil::waitFor([&] { return !s.paint->Pending(); }, 1000ms));
    EXPECT_EQ(s.label->painted.last(), "2000");
    // At once for the first, then at most one a frame (and one at the end).
    EXPECT_LE(s.paint->Paints(), ms / TFramePaint::kFrameMs + 2) << ms << " ms";
}
