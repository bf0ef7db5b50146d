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

TEST(FirstPaint, ReturnsOnceTheWindowPaintedAtOnceWhenItCannotElseAtItsTimeOut)
{
    const auto shown = [](QWidget &w) { w.show(); };
    // Shown, but no paint comes: as for a window the desktop keeps out of
    // sight. Nothing else happens meanwhile, so only the wait's own wake
    // ends it, for a short time-out as for a longer one.
    const auto neverPainted = [](QWidget &w) { w.setUpdatesEnabled(false); w.show(); };
    const struct {
        const char *name;
        std::function<void(QWidget &)> show;
        int timeoutMs;
        bool painted;
    } rows[] = {
        {"shown", shown, 5000, true},
        {"never shown", [](QWidget &) {}, 5000, false},
        {"shown, then hidden", [](QWidget &w) { w.show(); w.hide(); }, 5000, false},
        {"shown minimised", [](QWidget &w) { w.showMinimized(); }, 5000, false},
        {"never painted, 1 ms", neverPainted, 1, false},
        {"never painted, 120 ms", neverPainted, 120, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        auto w = std::make_unique<CountingWindow>();
        w->resize(120, 40);
        r.show(*w);
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(WaitForFirstPaint(w.get(), r.timeoutMs), r.painted);
        // The long time-out is never waited for: the window painted, or
        // could not paint.
        EXPECT_LT(t.elapsed(), 4000);
        if (r.timeoutMs < 5000) {
            EXPECT_GE(t.elapsed(), r.timeoutMs);
        }
        EXPECT_EQ(w->paints > 0, r.painted);
    }
}
