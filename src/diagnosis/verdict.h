// A diagnosis' answer: whose fault an outage is, and the one line of
// evidence that says why.
#pragma once

#include <QString>

#include <optional>

namespace diagnosis {

// Where the fault lies, from nearest to farthest.
enum class TVerdict {
    Link,      // this machine's own interface or dial-up line
    Gateway,   // the router the default route goes through
    Provider,  // the network past the router
    Dns,       // the name service, while the addresses still answer
    Portal,    // a captive portal wants a login
    Target,    // only the probed server; others answer
    Partial,   // one address family, or some of the other servers
    Unknown,   // nothing pins it (or everything answers again)
};

// The word kept in the history, the export and the metrics ("link", ...).
QString VerdictName(TVerdict verdict);
// The verdict of a stored word; nothing for a word that is none.
std::optional<TVerdict> VerdictFromName(const QString &name);
// Every verdict, in the order above (the metrics list them all).
inline constexpr TVerdict kVerdicts[] = {TVerdict::Link,   TVerdict::Gateway, TVerdict::Provider,
                                         TVerdict::Dns,    TVerdict::Portal,  TVerdict::Target,
                                         TVerdict::Partial, TVerdict::Unknown};
// For a person: "your provider's network", as the notice says it.
QString VerdictPlace(TVerdict verdict);

// One diagnosis.
struct TDiagnosisResult {
    TVerdict Verdict = TVerdict::Unknown;
    QString Evidence;        // one sentence or two, in words
    qint64 ElapsedMs = 0;    // from the start to the verdict
    int BytesSent = 0;       // IP packets' bytes the checks sent (lookups estimated)
    QString PortalUrl;       // a portal verdict's login page (the redirect's Location); empty when unknown
};

} // namespace diagnosis
