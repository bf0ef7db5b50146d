#include "widgets/textpane.h"
#include "desktop/fonts.h"

#include <QFont>
#include <QPalette>
#include <QRect>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

void AddPaneLine(QTextEdit *pane, TLineStyle style, const QString &text)
{
    QTextCursor cursor(pane->document());
    cursor.movePosition(QTextCursor::End);
    if (!pane->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(style == TLineStyle::Bulleted ? QStringLiteral("\u2022 ") + text : text);
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
    pane->setFont(WindowFont(9));
    return pane;
}
