// Tells a completion whether it still belongs to the run that started it.
//
// Echoes, lookups and transfers complete inside nested event loops, often
// after their run was switched off or replaced by a newer one. A completion
// takes a ticket when its work starts and asks IsCurrent() when it reports:
// a ticket of an older or ended run is refused.
#pragma once

#include <cstdint>

class TRunGuard {
public:
    using TTicket = std::uint64_t;
    // No run has this ticket.
    static constexpr TTicket NoRun = 0;

    // Starts a new run: every earlier ticket goes stale. Returns the new one.
    TTicket Begin();
    // Ends the run: every ticket goes stale until the next Begin.
    void End();
    // True between Begin and End.
    bool Active() const { return active_; }
    // Ticket of the run now going (or of the last one, once ended).
    TTicket Current() const { return serial_; }
    // True when 'ticket' belongs to the run now going and that run has not ended.
    bool IsCurrent(TTicket ticket) const { return active_ && ticket == serial_; }
    // True when 'ticket' belongs to the latest run, ended or not.
    bool IsLatest(TTicket ticket) const { return ticket == serial_; }

private:
    TTicket serial_ = NoRun;
    bool active_ = false;
};
