// TAddrLookups: the names of a run of addresses (an ISP tree's block),
// several asked at once, on a small pool of threads of the run's own.
//
// The questions leave in the order of the list: a thread takes the next
// address under the run's lock and goes straight into the system resolver
// with it, so a question is asked at most a few microseconds after the one
// before it. (A thread started per lookup would not do: threads start in
// whatever order the scheduler likes, and the questions with them.) The
// owner lets the run go on up to an index of its choosing (Allow), so the
// answers that come back ahead of their turn stay bounded. Answers are
// handed to the owner's thread through its event loop, in the order they
// come.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
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
    // most 'threads' at a time and none at or past index 'limit'. An address
    // of all ones (a text that was no address) is answered 11001 unasked. A run
    // going on is cancelled first. False when no thread could be had (then
    // nothing is asked).
    bool Start(std::vector<std::uint32_t> addrs, int threads, int limit, TDone done);
    // Lets the run ask up to (not including) index limit.
    void Allow(int limit);
    // Forgets the run: nothing more is asked and no answer is handed on;
    // the questions out end on their own.
    void Cancel();

    // Pool threads of all runs still working (their last question not ended).
    static int Running();

private:
    struct TRun;
    std::shared_ptr<TRun> m_run;
};
