// TRouteTrace: the route at an outage's start, one trace to the first
// failing target: every hop's echo at once through the traceroute engine's
// probes (TTraceProbes), given up after 5 s whatever came back. The target
// is an address, never looked up: the name server may be what is down. The hops' names are asked once the trace has ended, in
// the time left: the name server may be what is down, and a hop the engine
// waits to name would hold up every hop behind it. The hops come back as a JSON array, the form the history
// keeps and the export hands on:
//
//   [{"hop":1,"address":"10.0.0.1","name":"gw.lan","ms":0.8},
//    {"hop":2,"address":null,"name":null,"ms":null}, ...]
//
// ("name" null when the hop has none, "address" and "ms" null when it was lost).
#pragma once

#include <QJsonArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QTimer;
class TTraceProbes;

namespace diagnosis {

class TRouteTrace : public QObject {
    Q_OBJECT
public:
    // The longest a trace runs, and the farthest hop it probes.
    static constexpr int kMostMs = 5000;
    static constexpr int kMostHops = 16;

    explicit TRouteTrace(QObject *parent = nullptr);
    // A trace still running is dropped: its hops are never told.
    ~TRouteTrace() override;

    // Traces to an address (text of either family); false while one runs.
    bool Start(const QString &address);
    bool Running() const;
    // Gives up the one running without telling it.
    void Cancel();

    // Told once per Start, on this object's thread: the hops as JSON.
    std::function<void(const QString &hops)> OnDone;

private:
    // Takes the probes' notes; the trace ends when every hop's echo has.
    void TakeNotes();
    // The trace ended (or its time is up): the names of the hops that
    // answered are asked, then the hops told.
    void Traced();
    void Finish();

    std::shared_ptr<TTraceProbes> probes_;   // the echoes of the trace under way
    QTimer *RouteTimer = nullptr;    // the trace's time limit
    struct THop {
        bool ended = false;          // its echo's note came
        QString address;             // who answered; empty when nobody did
        int ms = -1;
        bool target = false;         // the route ends here: the target's reply, or an unreachable
    };
    std::vector<THop> echoes_;       // by hop, from 1
    QJsonArray hops_;
    bool running_ = false;
    bool naming_ = false;            // the trace has ended; names are being asked
    std::vector<unsigned> lookups_;  // the names' lookups still out

};

} // namespace diagnosis
