// The output panes: lines written as plain text, and a line wider than the
// pane shown from its start with the newest line in view.
#include "widgets/textpane.h"

#include <QApplication>
#include <QScrollBar>
#include <QTextEdit>
#include <QWidget>
#include <gtest/gtest.h>

TEST(TextPane, WideLinesStayInViewFromTheirStart)
{
    QWidget parent;
    QTextEdit *pane = MakeOutputPane(&parent, QStringLiteral("re_Test"), QRect(0, 0, 200, 60));
    parent.resize(220, 80);
    parent.show();
    const QString address = QStringLiteral("fd00:200:3:0:fedc:ba98:7654:3210");
    for (int i = 0; i < 10; ++i)
        AddPaneLine(pane, TLineStyle::Bulleted,
                    QStringLiteral("Lookup complete: %1 (%1)").arg(address));
    AddPaneLine(pane, TLineStyle::Plain, QStringLiteral("<b>not bold</b>"));
    QApplication::processEvents();
    // The text is wider and taller than the pane: both bars can move.
    ASSERT_GT(pane->horizontalScrollBar()->maximum(), 0);
    ASSERT_GT(pane->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(pane->horizontalScrollBar()->value(), 0);
    // The newest line is in view.
    const QRect last = pane->cursorRect();
    EXPECT_GE(last.top(), 0);
    EXPECT_LE(last.bottom(), pane->viewport()->height());
    EXPECT_GT(pane->verticalScrollBar()->value(), 0);
    const QStringList lines = pane->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 11);
    EXPECT_EQ(lines.first(), QStringLiteral("\u2022 Lookup complete: %1 (%1)").arg(address));
    EXPECT_EQ(lines.last(), QStringLiteral("<b>not bold</b>"));
}
