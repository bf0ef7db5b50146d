// Byte-level pieces of the finger client, free of I/O so that they are tested
// on their own: splitting a reply into lines and turning reply bytes into text
// that is safe to show. A finger reply comes from a server nobody vouches for,
// so what it sends is only ever shown as plain characters.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Splits reply bytes into lines at CR LF, CR or LF. A break at the very end
// ends the last line without adding an empty one; no bytes give no lines.
QList<QByteArray> SplitFingerReply(const QByteArray &reply);

// True when the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF, no sequence cut short).
bool IsValidUtf8(const QByteArray &bytes);

// Text to show for one line of reply bytes: decoded as UTF-8 when the line is
// valid UTF-8, else as Windows-1252. Control characters other than tab become
// visible placeholders (C0 controls and DEL their Control Pictures, e.g. ESC
// -> U+241B, NUL -> U+2400; C1 controls and the bidirectional overrides and
// isolates U+FFFD), so nothing reaches a widget that could move the cursor,
// reorder the text or be taken for markup. The result is plain text: show it
// with setPlainText or as list items, never as rich text.
QString FingerDisplayText(const QByteArray &bytes);

// SplitFingerReply, then FingerDisplayText on every line.
QStringList FingerReplyLines(const QByteArray &reply);
