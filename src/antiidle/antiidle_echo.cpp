// The anti-idle echo: the lookup of the probe's host, the blocking echo and
// the status, history and statistics of its outcome.
#include "antiidle/antiidle.h"

#include "net/ping.h"
#include "shell/shellapi.h"
#include "widgets/textpane.h"

#include <QLabel>
#include <QTextEdit>

#include <exception>

void TAntiIdle::SendEcho(const QString &host)
{
    // A system that refuses ICMP to the program still runs it (the echo
    // handle stays closed); the user is told how to allow echoes the first
    // time one is about to go out.
    if (!Ping2->Engine().HandleOpen()) {
        const QString hint = TPing::AccessHintOnce();
        if (!hint.isEmpty())
            shell_.ShowMessage(hint);
    }
    ProbeSession = Session.Current();
    // A dotted address completes inside this call, a name later through the
    // event loop; a lookup still pending from an earlier tick is dropped.
    Ping2->DnsLookup(host);
}

void TAntiIdle::Ping2DnsLookupDone(QObject *, quint16 Error)
{
    // An echo started by an earlier session is still shown when it ends,
    // but once a newer session has started it is not counted in that one:
    // its attempt was counted in the session that sent it.
    const bool counts = Session.IsLatest(ProbeSession);
    try {
        if (Error != 0) {
            shell_.SetStatus(QStringLiteral("Status: Unknown Host ") + LastPingHost);
            AddPaneLine(shell_.History(), TLineStyle::Bulleted, QStringLiteral("Unknown Host ") + LastPingHost);
            if (counts)
                RecordLookupFailure();
            return;
        }
        Ping2->SetAddress(Ping2->DnsResult());
        // Blocks until the reply or the time-out; the two echo events fire inside.
        Ping2->Ping();
    } catch (const std::exception &e) {
        // This runs from the event loop, which no exception may cross.
        shell_.ShowMessage(QString::fromStdString(e.what()));
    }
}

void TAntiIdle::Ping2EchoRequest(QObject *)
{
    const QString text = QStringLiteral("Sending ") + QString::number(Ping2->Size())
        + QStringLiteral(" bytes to ") + LastPingHost;
    // Painted now: the window does not repaint while the echo blocks.
    shell_.SetStatus(QStringLiteral("Status: ") + text, true);
    AddPaneLine(shell_.History(), TLineStyle::Bulleted, text);
}

void TAntiIdle::Ping2EchoReply(QObject *, int Error)
{
    const bool counts = Session.IsLatest(ProbeSession);
    shell_.Info().PingLight->hide();
    if (Error != 0) {
        const int ms = int(Ping2->Reply().RoundTripTime);
        const QString text = LastPingHost + QStringLiteral(" pinged in ") + QString::number(ms)
            + QStringLiteral(" msecs");
        shell_.SetStatus(QStringLiteral("Status: ") + text);
        AddPaneLine(shell_.History(), TLineStyle::Bulleted, text);
        if (counts)
            RecordSuccess(ms);
    } else {
        const QString text =
            QStringLiteral("Error pinging ") + LastPingHost + QStringLiteral(" : ") + Ping2->ErrorText();
        shell_.SetStatus(QStringLiteral("Status: ") + text);
        AddPaneLine(shell_.History(), TLineStyle::Bulleted, text);
        if (counts)
            RecordFailure();
    }
}
