// State changes, traced as curl traces its states: one line
// "<machine> <name>: <old> -> <new>" per change through the logging category
// idlix.state, off unless switched on (QT_LOGGING_RULES="idlix.state=true").
// Every SetState/ChangeState and the session's phases write through here.
#pragma once

#include <QLoggingCategory>
#include <QObject>

#include <cstddef>

namespace platform {

Q_DECLARE_LOGGING_CATEGORY(lcState)

// Writes one change; 'who' names the object (its objectName), may be null.
void TraceStateLine(const char *machine, const QObject *who, const char *from, const char *to);

// The change of a state machine whose states are named by names[] in the
// order of their values; a value past the table is written as "?".
template <typename E, std::size_t N>
void TraceState(const char *machine, const QObject *who, E from, E to, const char *const (&names)[N])
{
    if (!lcState().isDebugEnabled())
        return;
    auto name = [&](E e) {
        const auto i = static_cast<std::size_t>(e);
        return i < N ? names[i] : "?";
    };
    TraceStateLine(machine, who, name(from), name(to));
}

} // namespace platform
