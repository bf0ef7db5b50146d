#include "widgets/textpane.h"

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
    pane->moveCursor(QTextCursor::End);
    pane->ensureCursorVisible();
}
