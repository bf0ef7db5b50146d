#include "widgets/textpane.h"
#include "desktop/fonts.h"
#include "widgets/fittext.h"

#include <QFont>
#include <QPalette>
#include <QRect>
#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

namespace {

// Width a wrapping pane's lines have: inside the frame, the vertical scroll
// bar and the document's margins (known before the pane was ever shown).
int LineRoom(const QTextEdit *pane)
{
    int room = pane->contentsRect().width() - 2 * int(pane->document()->documentMargin());
    if (pane->verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn)
        room -= pane->verticalScrollBar()->sizeHint().width();
    return room;
}

// The widest word of a line: what wrapping cannot break between words.
QString WidestWord(const QFont &font, const QString &line)
{
    const QFontMetrics metrics(font);
    QString widest;
    int most = -1;
    for (const QString &word : line.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const int w = metrics.horizontalAdvance(word);
        if (w > most) {
            most = w;
            widest = word;
        }
    }
    return widest;
}

} // namespace

void AddPaneLine(QTextEdit *pane, TLineStyle style, const QString &text)
{
    QTextCursor cursor(pane->document());
    cursor.movePosition(QTextCursor::End);
    if (!pane->document()->isEmpty())
        cursor.insertBlock();
    const QString line = style == TLineStyle::Bulleted ? QStringLiteral("\u2022 ") + text : text;
    // A pane that wraps its lines would cut a word wider than itself (a full
    // IPv6 address) anywhere in the middle: that line is set smaller, so the
    // word stays whole on one line of its own, down to a size still read
    // with ease.
    QTextCharFormat format;
    if (pane->lineWrapMode() != QTextEdit::NoWrap) {
        const QString widest = WidestWord(pane->font(), line);
        const QFont fitted = FitFont(pane->font(), widest, LineRoom(pane), kFitFloorPixels);
        if (fitted != pane->font())
            format.setFont(fitted);
    }
    cursor.insertText(line, format);
    // The new line in view from its start: a line wider than the pane (a
    // full IPv6 address twice over) must not leave the pane scrolled to its
    // end, where only the tail of every line shows.
    pane->moveCursor(QTextCursor::End);
    pane->ensureCursorVisible();
    pane->horizontalScrollBar()->setValue(0);
}

QTextEdit *MakeOutputPane(QWidget *parent, const QString &name, const QRect &geometry)
{
    auto *pane = new QTextEdit(parent);
    pane->setObjectName(name);
    pane->setGeometry(geometry);
    pane->setReadOnly(true);
    pane->setLineWrapMode(QTextEdit::NoWrap);
    pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = pane->palette();
    pal.setColor(QPalette::Base, Qt::black);
    pal.setColor(QPalette::Text, QColor(192, 192, 192));
    pane->setPalette(pal);
    pane->setFont(desktop::WindowFont(9));
    return pane;
}
