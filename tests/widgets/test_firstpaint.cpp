// Waiting for a window's first paint: it returns once the window has painted,
// at once for a window that cannot paint (hidden, minimised), and after its
// time-out for one that is never painted.
#include "widgets/firstpaint.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// A window that counts its paint events.
class CountingWindow : public QWidget {
public:
    int paints = 0;

protected:
    void paintEvent(QPaintEvent *) override { ++paints; }
};

} // namespace

TEST(FirstPaint, ReturnsOnceTheWindowPaintedOrAtOnceWhenItCannot)
{
    const struct {
        const char *name;
        std::function<void(QWidget &)> show;
        bool painted;
    } rows[] = {
        {"shown", [](QWidget &w) { w.show(); }, true},
        {"never shown", [](QWidget &) {}, false},
        {"shown, then hidden", [](QWidget &w) { w.show(); w.hide(); }, false},
        {"shown minimised", [](QWidget &w) { w.showMinimized(); }, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        auto w = std::make_unique<CountingWindow>();
        w->resize(120, 40);
        r.show(*w);
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(WaitForFirstPaint(w.get(), 5000), r.painted);
        // A window that cannot paint is not waited for until the time-out.
        EXPECT_LT(t.elapsed(), 4000);
        EXPECT_EQ(w->paints > 0, r.painted);
    }
}

TEST(FirstPaint, GivesUpAfterItsTimeOutWhenTheWindowNeverPaints)
{
    // Shown, but no paint comes: as for a window the desktop keeps out of
    // sight (placed on another workspace). Nothing else happens meanwhile, so
    // only the wait's own wake ends it, for short time-outs as for long ones.
    for (const int timeoutMs : {1, 7, 40, 120, 300}) {
        SCOPED_TRACE(timeoutMs);
        CountingWindow w;
        w.setUpdatesEnabled(false);
        w.resize(120, 40);
        w.show();
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(WaitForFirstPaint(&w, timeoutMs));
        EXPECT_GE(t.elapsed(), timeoutMs);
        EXPECT_LT(t.elapsed(), 3000);
        EXPECT_EQ(w.paints, 0);
    }
}
