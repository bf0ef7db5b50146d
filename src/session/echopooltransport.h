// Echoes side by side, for every target each interval: each probe has an
// echo component of its own for the name lookup, and its echo waits on a
// short-lived worker (TPingThread) rather than on the session's thread, so
// an echo that waits out its time-out holds up no other probe. Its replies
// are told as the session's own echoes (TEchoTransport) tell theirs, with the
// round trip in the whole milliseconds the echo record carries.
#pragma once

#include "net/pingowner.h"
#include "probe/transport.h"

#include <QObject>

#include <memory>
#include <vector>

class TEchoPoolTransport final : public QObject, public probe::ITransport {
public:
    // As long as the session's echoes wait for their reply.
    static constexpr int DefaultTimeoutMs = 5000;

    explicit TEchoPoolTransport(QObject *parent = nullptr);
    // Probes still out end into nothing; a worker still waiting finishes
    // on its own and writes nowhere.
    ~TEchoPoolTransport() override;

    // Looks request.Target up, then sends one echo of request.Size data
    // bytes (0: the session's smallest) within request.TimeoutMs (0:
    // DefaultTimeoutMs). Done tells Ok, Timeout, Unreachable, TimeExceeded,
    // LookupFailed, NotPermitted or Failed, from the event loop.
    void Send(const probe::TRequest &request, probe::TEvents events) override;
    // Ends every probe still out, as Cancelled.
    void Cancel() override;
    bool Parallel() const override { return true; }
    // Probes out now.
    int Running() const { return int(probes_.size()); }

private:
    struct TProbe;
    void LookupDone(TProbe *probe, quint16 error);
    void Finish(TProbe *probe, probe::TReply reply);

    std::vector<std::unique_ptr<TProbe>> probes_;
    // Lookup components of probes that ended, freed from the event loop.
    std::vector<TPingOwner> retired_;
    bool sweeping_ = false;
};
