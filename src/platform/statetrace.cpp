#include "platform/statetrace.h"

namespace platform {

// Off by default: debug lines of this category need a rule to show.
Q_LOGGING_CATEGORY(lcState, "idlix.state", QtInfoMsg)

void TraceStateLine(const char *machine, const QObject *who, const char *from, const char *to)
{
    const QString name = who ? who->objectName() : QString();
    qCDebug(lcState).noquote() << QStringLiteral("%1%2%3: %4 -> %5")
                                      .arg(QLatin1String(machine), name.isEmpty() ? QString() : QStringLiteral(" "),
                                           name, QLatin1String(from), QLatin1String(to));
}

} // namespace platform
