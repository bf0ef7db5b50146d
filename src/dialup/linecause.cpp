#include "dialup/linecause.h"

#include "dialer/dialup.h"

#include <map>

QString LineEndCause(int code)
{
    using namespace dialer;
    // The ends a line that was up can have; failures of a dial never get here.
    static const std::map<int, const char *> words = {
        {kDialErrRemoteDisconnection, "the modem hung up"},
        {kDialErrAuthFailure, "authentication failed"},
        {kDialErrPeerNotAuthenticated, "the provider did not authenticate itself"},
        {kDialErrIdleTimeout, "the line was idle too long"},
        {kDialErrConnectTimeLimit, "the connect time limit was reached"},
        {kDialErrPeerNotResponding, "the provider stopped answering"},
        {kDialErrUserDisconnection, "it was disconnected outside Idlix"},
        {kDialErrNegotiation, "the PPP link failed"},
        {kDialErrLoopback, "the line is looped back"},
        {kDialErrCallback, "the provider will call back"},
        {kDialErrManagerGone, "NetworkManager stopped"},
        {kDialErrUnknown, "the dialer stopped on an error"},
        {0, "the dial-up line ended"},
    };
    if (const auto it = words.find(code); it != words.end())
        return QString::fromLatin1(it->second);
    QString text = DialErrorText(code);
    // NetworkManager's own reason ("device-removed", "service-stopped") comes
    // after the service's sentence, which speaks of a dial.
    if (code == kDialErrActivationFailed) {
        const QString reason = text.section(QStringLiteral(": "), 1);
        return QStringLiteral("NetworkManager ended the connection")
            + (reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(reason.chopped(reason.endsWith('.') ? 1 : 0)));
    }
    if (text.isEmpty())
        return QStringLiteral("the dial-up service gave code %1").arg(code);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    // A sentence's first word loses its capital; a name ("NetworkManager")
    // keeps it.
    const QString first = text.section(QLatin1Char(' '), 0, 0);
    if (first.mid(1) == first.mid(1).toLower())
        text[0] = text.at(0).toLower();
    return text;
}

QString HungUpHereCause()
{
    return QStringLiteral("it was hung up from Idlix");
}
