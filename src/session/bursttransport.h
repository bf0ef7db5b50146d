// The burst probe: several echoes to one host, 200 ms apart, told as one
// probe reply with the loss and the jitter of the burst.
//
//   echo://HOST[?count=N]      N from 1 to 20, 5 when not given
//
// The echoes go through the program's echo component, which blocks while it
// waits for an answer: each echo waits at most kEchoWaitMs (less when the
// request's time-out is shorter), and the next is scheduled by a timer, so
// the event loop runs between the echoes of a burst.
//
// The figures, from the round trips of the answered echoes in the order sent:
//   Us          their mean;
//   LossPercent the share of echoes not answered, 0 to 100;
//   JitterUs    the mean absolute difference between the round trips of
//               consecutive answered echoes (a lost echo is skipped over, so
//               10, lost, 30 ms gives 20 ms), as smokeping and blackbox
//               users read jitter; -1 with fewer than two answers.
#pragma once

#include "net/pingowner.h"
#include "session/probeurl.h"
#include "probe/transport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <optional>
#include <vector>

namespace session {

// An echo:// target taken apart.
struct TBurstTarget {
    QString Host;    // a name or an address (an IPv6 one may stand in brackets)
    int Count = 5;
};


// An echo:// URL as the probe URL reader (probeurl.h) takes it apart (5
// echoes without ?count=); nullopt with *error set when it is not one.
std::optional<TBurstTarget> ParseBurstUrl(const QString &url, QString *error = nullptr);

struct TBurstFigures {
    int Answered = 0;
    qint64 MeanUs = -1;
    double LossPercent = 100;
    qint64 JitterUs = -1;
};

// The figures of a burst from its round trips in microseconds, in the order
// sent, -1 for an echo not answered (see above).
TBurstFigures BurstFigures(const std::vector<qint64> &roundTripsUs);

} // namespace session

class TBurstTransport final : public probe::ITransport {
public:
    // The time between the starts of two echoes of a burst.
    static constexpr int kSpacingMs = 200;
    // The longest one echo of a burst waits for its answer (the event loop
    // does not run meanwhile).
    static constexpr int kEchoWaitMs = 1000;

    TBurstTransport();
    ~TBurstTransport() override;

    // Looks the host of the echo:// URL up and sends its burst; a burst
    // still out ends first, as Cancelled. A broken URL ends at once as Failed.
    void Send(const probe::TRequest &request, probe::TEvents events) override;
    // A burst under way keeps the next probe from going: cut short, its
    // loss and jitter would mean nothing.
    bool Busy() const override { return state_ != TState::Idle; }
    // Ends the burst (its lookup, or the echoes still to go), as Cancelled.
    void Cancel() override;

private:
    enum class TState { Idle, LookingUp, Echoing };

    void SetState(TState state);
    void LookupDone(quint16 error);
    void NextEcho();
    void EchoRequest();
    void EchoReply(int replies);
    void Conclude();
    void Finish(probe::TReply reply);

    TPingOwner ping_;
    TState state_ = TState::Idle;
    quint64 generation_ = 0;          // counts Sends: a handler's nested Send shows
    probe::TEvents events_;
    session::TBurstTarget target_;
    int echoWaitMs_ = kEchoWaitMs;
    std::vector<qint64> roundTrips_;  // -1: not answered
    int lastStatus_ = 0;              // the IP status of the last unanswered echo
    QString lastError_;
    bool toldSending_ = false;
    QTimer spacing_;
    QElapsedTimer started_;           // the first echo's start
};
