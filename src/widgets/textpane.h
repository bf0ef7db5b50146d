// Writing lines to the program's read-only text panes (history, ping output).
#pragma once

#include <QString>

class QTextEdit;

enum class TLineStyle { Bulleted, Plain };

// Appends 'text' as a new line of 'pane' ("• text" when Bulleted) as plain
// text, never markup (a host name or a server's reply is untrusted), and
// scrolls the pane to its end.
void AddPaneLine(QTextEdit *pane, TLineStyle style, const QString &text);
