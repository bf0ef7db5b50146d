// TDiagnosis: why the line is down. Run at an outage, it climbs a ladder of
// checks from this machine outwards and stops at the first that fails:
//
//   link      the egress interface is on, has carrier and an address of the
//             family; the dial-up line (when there is one) is connected;
//   gateway   the default route's router answers an echo (its neighbour
//             entry says why when it does not);
//   provider  something past the router answers echoes with TTL 2 to 4;
//   dns       the system resolver answers for the probed names, while the
//             targets' last known addresses answer echoes;
//   target    the target alone is silent while the other servers answer.
//
// Each family the targets use is climbed at once on a thread of its own;
// each check is bounded (an echo 1 s, the lookups 1.5 s from the start), so
// a verdict comes within about 4 s. The answer comes through the event loop
// of the thread that started it; nothing here blocks that thread.
#pragma once

#include "diagnosis/verdict.h"
#include "platform/ipaddress.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace diagnosis {

struct TRun;

struct TDiagnosisRequest {
    // A server as the session knows it.
    struct TServer {
        std::string Host;               // as probed: a name, or an address text
        platform::IpAddress LastAddress;  // where it was last reached; None when never
    };
    std::vector<TServer> Targets;  // the servers whose probes failed, the first failing first
    std::vector<TServer> Others;   // the anchors, and the cycle's other servers

    // The user's check page (none unless set): asked in the portal step; a
    // redirect or a reply without Expect in it is a portal.
    struct TCheck {
        QString Url;                   // http://host[:port]/path; empty = none
        platform::IpAddress Address;   // its host's, looked up beforehand; None = not asked
        QString Expect;                // text the reply holds when nothing stands in the way
    } Check;

    // The dial-up line, when the program dials one.
    struct TLine {
        bool Known = false;     // a line is managed (pppd, NetworkManager, simulated)
        bool Connected = false;
        QString Name;           // its entry, for the evidence
    } Line;

    // Only the checks that send nothing (the link): no server is known at an
    // address over the line to check past it (the probes went to this
    // machine, or never found an address).
    bool LocalOnly = false;

    int EchoTimeoutMs = 1000;    // one echo's wait
    int LookupTimeoutMs = 1500;  // the resolver's, from the start
};

class TDiagnosis : public QObject {
    Q_OBJECT
public:
    explicit TDiagnosis(QObject *parent = nullptr);
    // A diagnosis still running is abandoned: its answer is never told.
    ~TDiagnosis() override;

    // Starts one; false (and nothing started) while another runs.
    bool Start(TDiagnosisRequest request);
    bool Running() const { return static_cast<bool>(m_run); }
    // Gives up the one running: its answer is never told.
    void Cancel() { Abandon(); }

    // Told once per Start, on this object's thread.
    std::function<void(const TDiagnosisResult &)> OnDone;

private:
    void Finish(const std::shared_ptr<TRun> &run, const TDiagnosisResult &result);
    void Abandon();

    std::shared_ptr<TRun> m_run;
};

} // namespace diagnosis
