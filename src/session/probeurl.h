// A probe target as the host field or a line of Servers.dat names it. A plain
// host or address (no "scheme://") is what it always was: the method decides
// whether it gets an echo or an HTTP GET, and "http://" URLs go to the HTTP GET
// as its client reads them. The other schemes name a kind of probe of their own:
//
//   tcp://HOST:PORT                          time to a completed TCP handshake
//   https://HOST[:PORT][/PATH]               TLS handshake, certificate check, GET
//   dns://[SERVER[:PORT]]/NAME[?type=TYPE]   one query (no SERVER: the system's)
//   echo://HOST[?count=N]                    one echo, or a burst of N (1..20)
//
// Pure text work: nothing is looked up here.
#pragma once

#include "session/probechoice.h"

#include <QString>

namespace session {

// The most echoes of a burst (200 ms apart, so a burst ends within 4 s).
inline constexpr int MaxBurstCount = 20;
// The query types a dns:// probe may ask.
inline constexpr const char *DnsTypes[] = {"A", "AAAA", "MX", "TXT", "NS", "SOA"};

struct TProbeUrl {
    // None: a plain entry, or an http:// URL; the method decides.
    TProbeKind Kind = TProbeKind::None;
    QString Host;         // host or address (an IPv6 address without brackets); dns: the server, may be empty
    int Port = -1;        // tcp: given; https: 443 unless given; dns: 53 unless given; else -1
    QString Path;         // https: path and query, "/" at least
    QString DnsName;      // dns: the name asked
    QString DnsType;      // dns: "A" unless given, upper case
    int Count = 0;        // echo: the burst's echoes (0 without ?count=)
};

// Reads an entry. False, with the reason in *error, for an entry that names
// a scheme but is no probe of it: an unknown scheme, no host, a port out of
// 1..65535, a count out of 1..MaxBurstCount, an unknown DNS type, a part the
// kind does not take. A plain entry is never an error here: its lookup says
// what is wrong with it, as it always did.
bool ParseProbeUrl(const QString &entry, TProbeUrl *url, QString *error);

// "host:port" as texts show it, an IPv6 address in brackets.
QString HostPortText(const QString &host, int port);

} // namespace session
