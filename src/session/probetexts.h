// What the status line and the history say of a probe, by its kind. The kinds
// closest to a designed method speak its texts (an echo or a burst as
// "Pinging ..." and "... pinged in N msecs", an https:// GET as the HTTP GET's
// "Received N bytes from ... in Nms" and "Transfer from ... failed. ..."); the
// others say plainly what they did. Texts come without "Status: " and the
// history's bullet.
#pragma once

#include "session/probechoice.h"
#include "session/probeurl.h"

#include <QString>

namespace session {

// A probe's target as its texts name it.
struct TProbeName {
    TProbeKind Kind = TProbeKind::None;
    QString Entry;        // the list entry or host field as written
    TProbeUrl Url;        // what the entry names (a plain entry: Kind None)
};

// The name the texts use: the host for an echo or a burst, "host:port" for
// a TCP connect, the query for DNS, the entry itself otherwise.
QString ShownName(const TProbeName &name);
// When the probe goes out ("Sending 56 bytes to h", "Connecting to h");
// 'size' is an echo's data bytes.
QString SendingText(const TProbeName &name, int size);
// The probe succeeded in 'ms' milliseconds, having received 'bodyBytes'
// (a document's).
QString SuccessText(const TProbeName &name, int ms, qint64 bodyBytes);
// The probe failed for 'reason'. An echo whose name did not resolve says
// "Unknown Host" instead (LookupFailureText).
QString FailureText(const TProbeName &name, const QString &reason);
QString LookupFailureText(const TProbeName &name);
// An entry that names no probe it can send.
QString MalformedText(const QString &entry, const QString &reason);
// The caption of the window's probe lamp while a probe of the kind is out:
// "PING" and "HTTP GET" as designed, for the kinds closest to them too.
QString LampText(TProbeKind kind);
// Whether a failed lookup ends the probe as the designed echo's does (told
// as "Unknown Host", counted once per tick).
bool EchoLike(TProbeKind kind);

} // namespace session
