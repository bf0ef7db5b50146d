// Text read whole in a place of fixed size: the font that fits, a label that
// follows its text and what covers it, a wrapping pane that keeps a long
// word on one line, and report cells that say in their tool tip what they
// cannot show.
#include "widgets/fittext.h"
#include "widgets/reportgrid.h"
#include "widgets/textpane.h"
#include "desktop/fonts.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QTextCursor>
#include <QLabel>
#include <QProgressBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

const QString kAddress = QStringLiteral("fd00:200:3:0:fedc:ba98:7654:3210");

int Width(const QFont &font, const QString &text)
{
    return QFontMetrics(font).horizontalAdvance(text);
}

QFont Sized(int px)
{
    QFont f = desktop::WindowFont(9);
    f.setPixelSize(px);
    return f;
}

} // namespace

// Room is given as the width the text has at some size, so each case says
// which size must come back, whatever the font installed.
TEST(FitFont, LargestSizeThatFitsDownToTheFloor)
{
    const QString text = QStringLiteral("Status: ") + kAddress + QStringLiteral(" reached");
    struct Case {
        int roomAtPx;   // the room: the text's width at this size (0: far too narrow)
        int slack;      // pixels added to that room
        int px;         // the size that must come back
        bool whole;
    } cases[] = {
        {12, 0, 9, true},   // wider than needed: the designed size
        {9, 0, 9, true},    // just as wide
        {8, 0, 8, true},
        {8, -1, 7, true},   // a pixel short of 8: 7
        {7, 0, 7, true},
        {7, -1, 7, false},  // short of the floor: the floor, and not whole
        {0, 10, 7, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.roomAtPx) + " " + std::to_string(c.slack));
        const int room = (c.roomAtPx ? Width(Sized(c.roomAtPx), text) : 0) + c.slack;
        bool whole = !c.whole;
        const QFont f = FitFont(Sized(9), text, room, kFitFloorPixels, &whole);
        EXPECT_EQ(f.pixelSize(), c.px);
        EXPECT_EQ(whole, c.whole);
        EXPECT_EQ(f.family(), Sized(9).family());
        if (whole)
            EXPECT_LE(Width(f, text), room);
    }
    // Nothing to show fits anywhere.
    bool whole = false;
    EXPECT_EQ(FitFont(Sized(9), QString(), 0, kFitFloorPixels, &whole), Sized(9));
    EXPECT_TRUE(whole);
}

TEST(FitLabel, FollowsItsTextAndTheWidgetThatCoversIt)
{
    QWidget parent;
    auto *label = new QLabel(&parent);
    label->setGeometry(20, 0, 345, 15);
    label->setFont(Sized(9));
    label->setToolTip(QStringLiteral("Idlix status"));
    auto *gauge = new QProgressBar(&parent);
    gauge->setGeometry(312, 2, 121, 14);
    gauge->hide();
    TFitLabel fit(label);
    fit.SetCover(gauge);
    parent.show();

    const QString shortText = QStringLiteral("Status: Tracing to host");
    // Just too wide for the whole label at the designed size, whatever the
    // fonts of this machine; narrow enough for the room the gauge leaves at
    // the floor.
    QString longText = QStringLiteral("Status: Lookup complete: ");
    while (Width(Sized(9), longText) <= 345)
        longText += kAddress.at(longText.size() % kAddress.size());
    ASSERT_LE(Width(Sized(kFitFloorPixels), longText), 312 - 20);
    const QString tooLong = longText + longText;
    struct Step {
        const QString &text;
        bool gauge;
        bool designed;     // shown in the designed font
        bool tipIsText;    // the tool tip holds the text (else the hint)
    } steps[] = {
        {shortText, false, true, false},
        {longText, false, false, true},
        {longText, true, false, true},
        {tooLong, false, false, true},
        {shortText, true, true, false},
    };
    int lastPx = 9;
    for (const Step &s : steps) {
        SCOPED_TRACE(s.text.toStdString() + (s.gauge ? " with the gauge" : ""));
        gauge->setVisible(s.gauge);
        label->setText(s.text);
        fit.Fit();
        EXPECT_EQ(fit.Room(), s.gauge ? 312 - 20 : 345);
        EXPECT_EQ(label->font().pixelSize() == 9, s.designed);
        EXPECT_EQ(label->toolTip(), s.tipIsText ? s.text : QStringLiteral("Idlix status"));
        if (&s.text != &tooLong)
            EXPECT_LE(Width(label->font(), s.text), fit.Room());
        if (&s.text == &longText && s.gauge)
            EXPECT_LT(label->font().pixelSize(), lastPx);   // less room, smaller text
        lastPx = label->font().pixelSize();
    }
    // The gauge going away gives the room back without a new text.
    label->setText(longText);
    gauge->show();
    fit.Fit();
    const int covered = label->font().pixelSize();
    gauge->hide();
    EXPECT_GT(label->font().pixelSize(), covered);
}

// A wrapping pane never cuts an address that fits at a smaller size: that
// line is set smaller and the address lies on one line of the layout; the
// lines around it keep the pane's font.
TEST(TextPane, WrappingPaneKeepsALongAddressOnOneLine)
{
    QWidget parent;
    auto *pane = new QTextEdit(&parent);
    pane->setGeometry(0, 0, 161, 166);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    parent.show();
    const QStringList lines = {QStringLiteral("Sending 56 bytes to fd00:200:3::10"),
                               kAddress + QStringLiteral(" pinged in 0 msecs"),
                               QStringLiteral("Error pinging fd00:200:3::99 : Destination host unreachable")};
    for (const QString &l : lines)
        AddPaneLine(pane, TLineStyle::Bulleted, l);
    QApplication::processEvents();
    ASSERT_GT(Width(pane->font(), kAddress), pane->viewport()->width())
        << "the test needs an address wider than the pane";

    const QTextBlock first = pane->document()->begin();
    const QTextBlock second = first.next();
    const QTextBlock third = second.next();
    // The format the text of a line has.
    const auto format = [](const QTextBlock &b) {
        QTextCursor c(b);
        c.movePosition(QTextCursor::NextCharacter);
        return c.charFormat();
    };
    EXPECT_FALSE(format(first).hasProperty(QTextFormat::FontPixelSize));
    ASSERT_TRUE(format(second).hasProperty(QTextFormat::FontPixelSize));
    EXPECT_LT(format(second).font().pixelSize(), QFontInfo(pane->font()).pixelSize());
    EXPECT_GE(format(second).font().pixelSize(), kFitFloorPixels);
    EXPECT_FALSE(format(third).hasProperty(QTextFormat::FontPixelSize));
    // The address's first and last character on the same line of the layout.
    const int start = int(second.text().indexOf(kAddress));
    ASSERT_GE(start, 0);
    const QTextLayout *layout = second.layout();
    EXPECT_EQ(layout->lineForTextPosition(start).lineNumber(),
              layout->lineForTextPosition(start + int(kAddress.size()) - 1).lineNumber());
    // The text itself is as written: nothing inserted to make it break.
    EXPECT_EQ(pane->toPlainText().split('\n')[1], QStringLiteral("\u2022 ") + lines[1]);
}

TEST(ReportGrid, CellsTooNarrowKeepBothEndsAndGiveTheWholeTextAsTip)
{
    TReportGrid grid;
    grid.SetRowCount(5);
    struct Case {
        int col;
        QString text;
        bool tip;
    } cases[] = {
        {0, QStringLiteral("host.v6"), false},
        {0, QStringLiteral("fd00:200:3::99"), false},
        {0, kAddress, true},
        {0, QStringLiteral("[") + kAddress + QStringLiteral("]:8080"), true},
        {4, QStringLiteral("12"), false},
    };
    int row = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        const int r = c.col == 0 ? row++ : 1;
        ASSERT_TRUE(grid.SetCells(c.col, r, c.text));
        EXPECT_EQ(grid.Cells(c.col, r), c.text);
        EXPECT_EQ(grid.ShowsWhole(c.col, c.text), !c.tip);
        EXPECT_EQ(grid.item(r - 1, c.col)->toolTip(), c.tip ? c.text : QString());
    }
    EXPECT_EQ(grid.textElideMode(), Qt::ElideMiddle);
    // A text that shows whole again drops its tip.
    grid.SetCells(0, 3, QStringLiteral("short"));
    EXPECT_EQ(grid.item(2, 0)->toolTip(), QString());
}
