// The window's size setting as the program applies it: the real program on a
// real X server (Xvfb, through xvfb-run), its window measured by xwininfo.
// [Window] Scale=100, 150 and 200 draw the whole window at that size;
// "auto" (or no setting) follows the screen, which Xvfb reports at 96 dots
// per inch and no desktop scale: 100 %.
#include "../support/childprogram.h"
#include "../support/testutil.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSize>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <cmath>

namespace {

// Starts the program under a fresh Xvfb, waits for its main window and
// prints xwininfo's answer for it; the program is then ended.
const char kScript[] = R"SH(
"$0" & pid=$!
for i in $(seq 1 100); do
  # The hidden hold window has the same title: take the one on screen.
  for id in $(xwininfo -root -tree 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) "Idlix v2.0".*/\1/p'); do
    info=$(xwininfo -id "$id" 2>/dev/null)
    case "$info" in *"Map State: IsViewable"*) break 2 ;; esac
    info=""
  done
  sleep 0.1
done
echo "$info"
kill $pid 2>/dev/null
wait $pid 2>/dev/null
exit 0
)SH";

// The window's inside size, from xwininfo's "Width:" and "Height:".
QSize WindowSize(const QString &info)
{
    const auto w = QRegularExpression("Width: (\\d+)").match(info);
    const auto h = QRegularExpression("Height: (\\d+)").match(info);
    return w.hasMatch() && h.hasMatch() ? QSize(w.captured(1).toInt(), h.captured(1).toInt()) : QSize();
}

QSize RunAt(const QByteArray &settings, const char *userFactor, QString *info)
{
    testutil::ScratchDir dir;
    testutil::writeFile(dir.file("idlix2.ini"), settings);
    QProcessEnvironment env = testutil::programEnvironment(dir);
    env.insert("QT_QPA_PLATFORM", "xcb");
    for (const char *var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_SCALE_FACTOR", "QT_SCREEN_SCALE_FACTORS",
                            "QT_ENABLE_HIGHDPI_SCALING", "QT_USE_PHYSICAL_DPI"})
        env.remove(var);
    if (userFactor)
        env.insert("QT_SCALE_FACTOR", userFactor);
    QProcess p;
    p.setProcessEnvironment(env);
    p.start("xvfb-run", {"-a", "-s", "-screen 0 2560x1440x24", "sh", "-c", kScript,
                         testutil::programPath()});
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(3000);
    }
    *info = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
    return WindowSize(*info);
}

} // namespace

TEST(WindowSize, TheSettingScalesTheWholeWindow)
{
    for (const char *tool : {"xvfb-run", "Xvfb", "xwininfo"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << tool << " is not installed (scripts/deps.sh test installs it)";
    }
    struct Case {
        const char *settings;
        const char *userFactor;   // QT_SCALE_FACTOR in the user's environment
        double factor;
    };
    const Case cases[] = {
        {"", nullptr, 1},
        {"[Window]\r\nScale=auto\r\n", nullptr, 1},
        {"[Window]\r\nScale=100\r\n", nullptr, 1},
        {"[Window]\r\nScale=150\r\n", nullptr, 1.5},
        {"[Window]\r\nScale=200\r\n", nullptr, 2},
        // Automatic leaves the user's own factor to Qt; a chosen size is that
        // size whatever else asks.
        {"[Window]\r\nScale=auto\r\n", "1.5", 1.5},
        {"[Window]\r\nScale=200\r\n", "1.5", 2},
        {"[Window]\r\nScale=100\r\n", "2", 1},
    };
    QSize base;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.settings) + " QT_SCALE_FACTOR=" + (c.userFactor ? c.userFactor : "-"));
        QString info;
        const QSize size = RunAt(c.settings, c.userFactor, &info);
        ASSERT_TRUE(size.isValid()) << info.toStdString();
        if (c.factor == 1 && !base.isValid()) {
            // The client area is 449 pixels wide; the menu bar's height is the style's.
            EXPECT_EQ(size.width(), 449);
            base = size;
        } else {
            ASSERT_TRUE(base.isValid());
            EXPECT_NEAR(size.width(), base.width() * c.factor, 1);
            EXPECT_NEAR(size.height(), base.height() * c.factor, 1);
        }
    }
}
