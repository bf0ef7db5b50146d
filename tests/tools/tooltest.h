// Shared pieces of the echo tool tests: a main window on a scratch program
// directory with message boxes captured, and readers for the tools' output.
#pragma once

#include "shell/mainform.h"
#include "tools/latencytest.h"
#include "tools/pingtool.h"
#include "widgets/responsegraph.h"
#include "widgets/toolswitch.h"
#include "platform/icmpecho.h"
#include "desktop/msgbox.h"
#include "../support/testutil.h"
#include "platform/services.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QStringList>
#include <QTextEdit>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <utility>

namespace tooltest {

// A main window on a scratch program directory, with the texts of the
// message boxes it shows collected instead. Tools are made on it by the
// tests' own windows below.
struct BareWindow {
    testutil::ScratchDir dir;
    QStringList messages;
    std::unique_ptr<TMainForm> form;
    BareWindow()
    {
        platform::Services().Message = [this](const QString &t) { messages << t; };
        form = std::make_unique<TMainForm>();
    }
    ~BareWindow()
    {
        form.reset();
        platform::Services().Message = {};
    }
};

// The window with both echo tools.
struct Window : BareWindow {
    TLatencyTest *lat = new TLatencyTest(*form);   // children of the window
    TPingTool *png = new TPingTool(*form);
};

// Loopback echo tests of the window: skipped where ICMP is not allowed.
class EchoToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString hint;
        if (!platform::IcmpAvailable(&hint))
            GTEST_SKIP() << "ICMP echoes are not allowed here: " << hint.toStdString();
        w = std::make_unique<Window>();
        f = w->form.get();
        lat = w->lat;
        png = w->png;
    }
    void TearDown() override { w.reset(); }

    std::unique_ptr<Window> w;
    TMainForm *f = nullptr;
    TLatencyTest *lat = nullptr;
    TPingTool *png = nullptr;
};

// The lines of an output pane.
inline QStringList Lines(const QTextEdit *pane)
{
    const QString text = pane->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QChar('\n'));
}

// Picture shown by a graph image (null when it was cleared).
inline QImage Picture(const QLabel *image)
{
    const QPixmap pix = image->pixmap();
    return pix.isNull() ? QImage() : pix.toImage().convertToFormat(QImage::Format_ARGB32);
}

// Pixels of the given colour, as (x, y).
inline std::set<std::pair<int, int>> PixelsOf(const QImage &img, QRgb colour)
{
    std::set<std::pair<int, int>> out;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) == colour)
                out.insert({x, y});
    return out;
}

inline constexpr QRgb Red = 0xffff0000;
inline constexpr QRgb Green = 0xff008000;

} // namespace tooltest
