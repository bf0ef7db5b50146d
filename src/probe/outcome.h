// How a probe ended. The set is fixed: the history, its export and the
// metrics name these outcomes; new ones are added at the end.
#pragma once

#include <QString>

enum class TProbeOutcome {
    Ok,            // echo answered, or the document received
    Timeout,       // no answer within the time-out (echo, or the transfer's watchdog)
    Unreachable,   // the network, host, protocol or port is unreachable
    TimeExceeded,  // the probe's time to live ran out on the way
    Refused,       // the web server refused the connection
    LookupFailed,  // the host name did not resolve
    HttpError,     // the web server answered with an error, or the reply was broken
    NotPermitted,  // this system does not let the program send echoes
    Failed,        // any other failure
    Skipped,       // not sent: the line carried other traffic since the last probe
    TlsFailed,     // the TLS handshake failed or the certificate did not verify
    DnsError,      // the name server answered with an error, or without an answer
};

// Whether a probe with this outcome tells anything of the line: one the
// system refused to send, or one skipped, does not (neither the line's
// state nor the report counts it).
inline bool TellsOfLine(TProbeOutcome outcome)
{
    return outcome != TProbeOutcome::NotPermitted && outcome != TProbeOutcome::Skipped;
}

// The name of an outcome in files and metrics: "ok", "timeout", ...
QString OutcomeName(TProbeOutcome outcome);
