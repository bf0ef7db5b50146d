// Why a dial-up line ended, in words a notice can use ("the modem hung up").
#pragma once

#include <QString>

// The words for the reason code the dial-up service gave when the line
// ended after it was up (DialStatus.error): a short clause, lower case, no
// full stop. A code without words of its own is told by the service's text
// for it, or by its number.
QString LineEndCause(int code);

// The line was hung up by this program (Disconnect, Reset, the
// auto-disconnect).
QString HungUpHereCause();
