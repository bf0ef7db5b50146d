// TAddrLookups: the names of a run of addresses (an ISP tree's block),
// several asked at once through the program's lookup service.
//
// The questions leave in the order of the list (the service's queue is first
// come first asked) and their answers are handed on in that order too: an
// answer that comes back ahead of its turn is held by the service until the
// ones before it are in. The owner lets the run go on up to an index of its
// choosing (Allow), and no more than the run's own number are out at once,
// so the answers waiting for their turn stay bounded. Answers reach the
// owner's thread through its event loop.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

class TAddrLookups : public QObject {
    Q_OBJECT
public:
    // One answer: the address's index in the list, 0 or a resolver code,
    // and the name found (empty without one).
    using TDone = std::function<void(int index, int error, const std::string &name)>;

    explicit TAddrLookups(QObject *owner = nullptr);
    // Cancels the run going on.
    ~TAddrLookups() override;

    // Starts asking for the names of addrs (network order), in order, at
    // most 'inFlight' at a time and none at or past index 'limit'. An address
    // of all ones (a text that was no address) is answered 11001 unasked. A run
    // going on is cancelled first. False when the service would take no
    // request (then nothing is asked).
    bool Start(std::vector<std::uint32_t> addrs, int inFlight, int limit, TDone done);
    // Lets the run ask up to (not including) index limit.
    void Allow(int limit);
    // Forgets the run: nothing more is asked and no answer is handed on;
    // the questions out end on their own.
    void Cancel();

    // Lookups of the program still with the resolver, those of cancelled
    // runs included.
    static int Running();

private:
    // Asks the next addresses while the limits allow; false when the
    // service refused one.
    bool AskMore();
    void Answered(unsigned handle, int index, int error, const std::string &name);

    std::vector<std::uint32_t> m_addrs;
    int m_next = 0;        // next index to ask for
    int m_limit = 0;       // no index at or past this is asked yet
    int m_inFlight = 1;    // the most out at once
    std::set<unsigned> m_out;   // handles asked and not yet answered
    TDone m_done;
};
