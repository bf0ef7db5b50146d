// The program's read-only text panes (history, tool output): making a tool's
// output pane and writing lines to them.
#pragma once

#include <QString>

class QRect;
class QTextEdit;
class QWidget;

enum class TLineStyle { Bulleted, Plain };

// Appends 'text' as a new line of 'pane' ("• text" when Bulleted) as plain
// text, never markup (a host name or a server's reply is untrusted), and
// scrolls the pane to the start of that line. In a pane that wraps, a line
// with a word wider than the pane (a full IPv6 address) is set in a smaller
// font, as far as one still read with ease, so that the word is not cut.
void AddPaneLine(QTextEdit *pane, TLineStyle style, const QString &text);

// A tool's output pane 'name' at 'geometry': read-only, lines not wrapped, a
// vertical scroll bar, silver Tahoma text 9 pixels high on black.
QTextEdit *MakeOutputPane(QWidget *parent, const QString &name, const QRect &geometry);
